#pragma once

#include <QWidget>
#include <cstddef>
#include <memory>
#include <vector>

class QAction;
class QLabel;
class QPushButton;
class QTableView;

namespace fw::record {
class SessionLog;
}

namespace fw::app {

class SessionTableModel;

// "Modules This Session": the log's updates, newest first, followed as they end; the rows
// selected go to the clipboard as the record's CSV. A window of its own even with a parent.
class SessionListWindow : public QWidget {
    Q_OBJECT
public:
    // The log must outlive the window.
    explicit SessionListWindow(const record::SessionLog &log, QWidget *parent = nullptr);
    ~SessionListWindow() override;

    // The selected rows' positions in the log, oldest first.
    std::vector<std::size_t> selectedPositions() const;
    // Puts the selected rows on the clipboard as the log's CSV; nothing when none is.
    void copySelection();

private:
    void showNewRows();
    void selectionChanged();

    const record::SessionLog &log_;
    SessionTableModel *model_;
    QLabel *counts_;
    QTableView *table_;
    QPushButton *copyButton_;
    QAction *copyAction_;
    std::shared_ptr<void> listening_;
};

} // namespace fw::app
