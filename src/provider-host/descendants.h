#pragma once

// What the host does before it loads the library, so that nothing the library starts
// outlives it, even a process that leaves the host's session and process group.
namespace fw::host {

// Makes every process the host starts from now on live in a PID namespace of its own
// (as root, or in a user namespace of its own where unprivileged ones are allowed), whose
// init is a tiny process forked here: it ends when the host ends, however the host ends,
// and with it the kernel ends every process left in the namespace. Where the kernel allows
// no namespace, the tiny process is a keeper that kills the host's process group when the
// host ends. Call it while the process has one thread.
void keepDescendantsWithHost();

// A ceiling on the host's data (heap and private mappings), so that a runaway library
// fails its allocations instead of making the machine swap.
void limitHostMemory();

} // namespace fw::host
