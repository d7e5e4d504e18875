// Time from process start until the window is first on screen: the program against the
// simulated base station, an empty window of the same size, and the program's own form
// with no logic behind it. Each runs as a child
// process that prints the monotonic clock at its first expose and quits.
#include <algorithm>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <spawn.h>
#include <string>
#include <sys/resource.h>
#include <sys/wait.h>
#include <unistd.h>
#include <vector>

namespace {

using Clock = std::chrono::steady_clock;

struct Run {
    double firstShowMs = -1; // from spawning until the first expose; negative on failure
    double peakRssMiB = 0;
};

Run runOnce(const std::string &program, const std::vector<std::string> &env) {
    int out[2];
    if (pipe(out) != 0)
        return {};
    posix_spawn_file_actions_t actions;
    posix_spawn_file_actions_init(&actions);
    posix_spawn_file_actions_adddup2(&actions, out[1], STDOUT_FILENO);
    posix_spawn_file_actions_addclose(&actions, out[0]);

    std::vector<char *> envp;
    envp.reserve(env.size() + 1);
    for (const std::string &entry : env)
        envp.push_back(const_cast<char *>(entry.c_str()));
    envp.push_back(nullptr);
    char *argv[] = {const_cast<char *>(program.c_str()), nullptr};

    const auto start = Clock::now();
    pid_t child = 0;
    const int spawned = posix_spawn(&child, program.c_str(), &actions, nullptr, argv, envp.data());
    posix_spawn_file_actions_destroy(&actions);
    close(out[1]);
    if (spawned != 0) {
        close(out[0]);
        return {};
    }
    std::string output;
    char buffer[256];
    for (ssize_t n; (n = read(out[0], buffer, sizeof buffer)) > 0;)
        output.append(buffer, std::size_t(n));
    close(out[0]);
    int status = 0;
    rusage usage{};
    wait4(child, &status, 0, &usage);

    long long shownNs = 0;
    const auto at = output.find("shown ");
    if (at == std::string::npos || std::sscanf(output.c_str() + at, "shown %lld", &shownNs) != 1)
        return {};
    const auto shown = Clock::time_point(std::chrono::nanoseconds(shownNs));
    return {std::chrono::duration<double, std::milli>(shown - start).count(),
            static_cast<double>(usage.ru_maxrss) / 1024.0};
}

double median(std::vector<double> values) {
    std::sort(values.begin(), values.end());
    const std::size_t mid = values.size() / 2;
    return values.size() % 2 ? values[mid] : (values[mid - 1] + values[mid]) / 2;
}

} // namespace

int main(int argc, char **argv) {
    const int runs = argc > 1 ? std::max(1, std::atoi(argv[1])) : 9;
    const char *provider = std::getenv("FLEETWRIGHT_PROVIDER");
    const std::string simulator = provider ? provider : FLEETWRIGHT_SIMULATOR;
    const auto config =
        std::filesystem::temp_directory_path() / ("startup_bench." + std::to_string(getpid()));
    std::filesystem::create_directories(config);

    std::vector<std::string> env;
    for (char **entry = environ; *entry; ++entry) {
        const std::string text = *entry;
        if (text.rfind("FLEETWRIGHT_PROVIDER=", 0) != 0 && text.rfind("XDG_CONFIG_HOME=", 0) != 0 &&
            text.rfind("FLEETWRIGHT_EXIT_AFTER_SHOW=", 0) != 0)
            env.push_back(text);
    }
    // The window is timed to its first expose on the display when there is one: that is
    // when the operator sees it.
    if (!std::getenv("QT_QPA_PLATFORM") && !std::getenv("DISPLAY") &&
        !std::getenv("WAYLAND_DISPLAY"))
        env.emplace_back("QT_QPA_PLATFORM=offscreen");
    env.push_back("FLEETWRIGHT_PROVIDER=" + simulator);
    env.push_back("XDG_CONFIG_HOME=" + config.string()); // the operator's settings stay out of it
    env.emplace_back("FLEETWRIGHT_EXIT_AFTER_SHOW=1");

    std::vector<double> program;
    std::vector<double> bare;
    std::vector<double> form;
    std::vector<double> programRss;
    std::vector<double> bareRss;
    std::vector<double> formRss;
    for (int i = 0; i < runs; ++i) { // interleaved, so that drift affects both alike
        const Run ours = runOnce(FLEETWRIGHT_PROGRAM, env);
        const Run empty = runOnce(FLEETWRIGHT_BARE_WINDOW, env);
        const Run formOnly = runOnce(FLEETWRIGHT_FORM_ONLY, env);
        program.push_back(ours.firstShowMs);
        bare.push_back(empty.firstShowMs);
        form.push_back(formOnly.firstShowMs);
        programRss.push_back(ours.peakRssMiB);
        bareRss.push_back(empty.peakRssMiB);
        formRss.push_back(formOnly.peakRssMiB);
        if (program.back() < 0 || bare.back() < 0 || form.back() < 0) {
            std::fprintf(stderr, "startup_bench: a child did not report its first show\n");
            std::filesystem::remove_all(config);
            return 1;
        }
    }
    std::filesystem::remove_all(config);

    const double programMs = median(program);
    const double bareMs = median(bare);
    const double formMs = median(form);
    std::printf("runs: %d each\n", runs);
    std::printf("fleetwright to first show (median): %8.1f ms\n", programMs);
    std::printf("bare window to first show (median): %8.1f ms\n", bareMs);
    std::printf("form alone to first show (median):  %8.1f ms\n", formMs);
    std::printf("start-up ratio: %.2f against the bare window (target at most 1.30)\n",
                programMs / bareMs);
    std::printf("start-up ratio: %.2f against the form alone\n", programMs / formMs);
    const double programMiB = median(programRss);
    const double bareMiB = median(bareRss);
    const double formMiB = median(formRss);
    std::printf("fleetwright peak resident memory (median): %8.1f MiB\n", programMiB);
    std::printf("bare window peak resident memory (median): %8.1f MiB\n", bareMiB);
    std::printf("form alone peak resident memory (median):  %8.1f MiB\n", formMiB);
    std::printf("memory ratio: %.2f against the bare window (target at most 1.30)\n",
                programMiB / bareMiB);
    std::printf("memory ratio: %.2f against the form alone\n", programMiB / formMiB);
    return 0;
}
