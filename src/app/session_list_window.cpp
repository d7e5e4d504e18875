#include "session_list_window.h"

#include "session_log.h"
#include "update_record.h"

#include <QAbstractTableModel>
#include <QAction>
#include <QClipboard>
#include <QFont>
#include <QGuiApplication>
#include <QHBoxLayout>
#include <QHeaderView>
#include <QKeyEvent>
#include <QLabel>
#include <QPushButton>
#include <QStyledItemDelegate>
#include <QTableView>
#include <QVBoxLayout>
#include <algorithm>
#include <functional>
#include <utility>

namespace fw::app {

namespace {

enum Column { Time, ModuleId, Model, Channel, Written, Outcome, MessageText, kColumns };

QString qt(const std::string &text) {
    return QString::fromStdString(text);
}

QString outcomeText(const record::SessionRow &row) {
    QString text = row.report.complete ? QStringLiteral("Complete") : QStringLiteral("Failed");
    const std::string note = record::repeatNote(row);
    if (!note.empty())
        text += QStringLiteral(" - ") + qt(note);
    return text;
}

QString countsText(const record::SessionLog &log) {
    return QStringLiteral("Complete: %1   Failed: %2")
        .arg(log.completeCount())
        .arg(log.failedCount());
}

// The view's own Copy puts the current cell's text on the clipboard; here the key copies
// the selected rows whole, or nothing.
class RowsView : public QTableView {
public:
    RowsView(std::function<void()> copy, QWidget *parent)
        : QTableView(parent), copy_(std::move(copy)) {}

protected:
    void keyPressEvent(QKeyEvent *event) override {
        if (event->matches(QKeySequence::Copy)) {
            copy_();
            event->accept();
            return;
        }
        QTableView::keyPressEvent(event);
    }

private:
    std::function<void()> copy_;
};

// A column sized to its contents leaves the text against the next column's line; a little
// room after each text keeps the columns apart.
class RoomyCells : public QStyledItemDelegate {
public:
    using QStyledItemDelegate::QStyledItemDelegate;

    QSize sizeHint(const QStyleOptionViewItem &option, const QModelIndex &index) const override {
        return QStyledItemDelegate::sizeHint(option, index) +
               QSize(option.fontMetrics.averageCharWidth() * 2, 0);
    }
};

} // namespace

// The log's rows, newest at the top. Only the rows it was told of are shown, so that the
// view hears of each row as it is inserted.
class SessionTableModel final : public QAbstractTableModel {
public:
    SessionTableModel(const record::SessionLog &log, QObject *parent)
        : QAbstractTableModel(parent), log_(log), shown_(static_cast<int>(log.rows().size())) {}

    int rowCount(const QModelIndex &parent) const override { return parent.isValid() ? 0 : shown_; }
    int columnCount(const QModelIndex &parent) const override {
        return parent.isValid() ? 0 : kColumns;
    }

    QVariant headerData(int section, Qt::Orientation orientation, int role) const override {
        if (orientation != Qt::Horizontal || role != Qt::DisplayRole)
            return {};
        static const char *const names[kColumns] = {
            "Time", "Module ID", "Model", "Channel", "Values written", "Outcome", "Message"};
        return QString::fromLatin1(names[section]);
    }

    QVariant data(const QModelIndex &index, int role) const override {
        if (!index.isValid())
            return {};
        const record::SessionRow &row = log_.rows()[positionOf(index.row())];
        switch (role) {
        case Qt::DisplayRole:
            return text(row, index.column());
        case Qt::ToolTipRole:
            return toolTip(row, index.column());
        case Qt::FontRole:
            if (index.column() == Outcome && !row.report.complete) {
                QFont bold;
                bold.setBold(true);
                return bold;
            }
            return {};
        default:
            return {};
        }
    }

    std::size_t positionOf(int row) const { return static_cast<std::size_t>(shown_ - 1 - row); }

    // Inserts the rows the log gained since the last call at the top.
    void showNewRows() {
        const int count = static_cast<int>(log_.rows().size());
        if (count == shown_)
            return;
        beginInsertRows({}, 0, count - shown_ - 1);
        shown_ = count;
        endInsertRows();
    }

private:
    static QVariant text(const record::SessionRow &row, int column) {
        const UpdateReport &report = row.report;
        switch (column) {
        case Time:
            return qt(record::clockTime(row.ended));
        case ModuleId:
            return qt(report.moduleId);
        case Model:
            return qt(report.model);
        case Channel:
            return qt(record::channelText(report));
        case Written:
            return qt(record::writtenText(report));
        case Outcome:
            return outcomeText(row);
        case MessageText:
            return qt(record::oneLine(report.message.text));
        default:
            return {};
        }
    }

    static QVariant toolTip(const record::SessionRow &row, int column) {
        switch (column) {
        case ModuleId:
        case Outcome:
            if (!row.firstCompleted.empty())
                return qt(record::repeatNote(row));
            return {};
        case MessageText:
            // The message as it was shown, where the cell may be cut short.
            return row.report.message.text.empty() ? QVariant()
                                                   : QVariant(qt(row.report.message.text));
        default:
            return {};
        }
    }

    const record::SessionLog &log_;
    int shown_;
};

SessionListWindow::SessionListWindow(const record::SessionLog &log, QWidget *parent)
    : QWidget(parent, Qt::Window), log_(log), model_(new SessionTableModel(log, this)),
      counts_(new QLabel(this)), table_(new RowsView([this] { copySelection(); }, this)),
      copyButton_(new QPushButton(QStringLiteral("&Copy as CSV"), this)),
      copyAction_(new QAction(QStringLiteral("Copy as CSV"), this)) {
    const QString title = QStringLiteral("Modules This Session");
    setWindowTitle(title);
    setAccessibleName(title);
    setObjectName(QStringLiteral("SessionListWindow"));

    counts_->setObjectName(QStringLiteral("counts"));
    copyButton_->setObjectName(QStringLiteral("copyAsCsv"));
    copyButton_->setAccessibleName(QStringLiteral("Copy as CSV"));
    table_->setObjectName(QStringLiteral("updates"));
    table_->setAccessibleName(QStringLiteral("Updates this session"));

    table_->setModel(model_);
    table_->setSelectionBehavior(QAbstractItemView::SelectRows);
    table_->setSelectionMode(QAbstractItemView::ExtendedSelection);
    table_->setEditTriggers(QAbstractItemView::NoEditTriggers);
    table_->setItemDelegate(new RoomyCells(table_));
    table_->setAlternatingRowColors(true);
    table_->setWordWrap(false);
    table_->setTextElideMode(Qt::ElideRight);
    table_->verticalHeader()->hide();
    // Rows are one line of text whatever the scale.
    table_->verticalHeader()->setSectionResizeMode(QHeaderView::ResizeToContents);
    QHeaderView &columns = *table_->horizontalHeader();
    columns.setSectionResizeMode(QHeaderView::ResizeToContents);
    columns.setSectionResizeMode(MessageText, QHeaderView::Stretch);
    columns.setDefaultAlignment(Qt::AlignLeft | Qt::AlignVCenter);
    columns.setHighlightSections(false);

    copyAction_->setShortcut(QKeySequence::Copy);
    copyAction_->setShortcutContext(Qt::WidgetWithChildrenShortcut);
    addAction(copyAction_);
    table_->addAction(copyAction_);
    table_->setContextMenuPolicy(Qt::ActionsContextMenu);
    connect(copyAction_, &QAction::triggered, this, &SessionListWindow::copySelection);
    connect(copyButton_, &QPushButton::clicked, this, &SessionListWindow::copySelection);
    connect(table_->selectionModel(), &QItemSelectionModel::selectionChanged, this,
            &SessionListWindow::selectionChanged);

    auto *close = new QAction(this);
    close->setShortcut(Qt::Key_Escape);
    close->setShortcutContext(Qt::WidgetWithChildrenShortcut);
    addAction(close);
    connect(close, &QAction::triggered, this, &QWidget::close);

    auto *top = new QHBoxLayout;
    top->addWidget(counts_);
    top->addStretch();
    top->addWidget(copyButton_);
    auto *layout = new QVBoxLayout(this);
    layout->addLayout(top);
    layout->addWidget(table_);

    listening_ = log_.listen([this] { showNewRows(); });
    showNewRows();
    selectionChanged();
    // Room for every column of a repeat's row and the start of its message.
    resize(1080, 400);
}

SessionListWindow::~SessionListWindow() = default;

std::vector<std::size_t> SessionListWindow::selectedPositions() const {
    std::vector<std::size_t> positions;
    for (const QModelIndex &index : table_->selectionModel()->selectedRows())
        positions.push_back(model_->positionOf(index.row()));
    // Oldest first, as the record file has them, whatever the view shows on top.
    std::sort(positions.begin(), positions.end());
    return positions;
}

void SessionListWindow::copySelection() {
    const std::vector<std::size_t> positions = selectedPositions();
    if (positions.empty())
        return;
    QGuiApplication::clipboard()->setText(qt(log_.csv(positions)));
}

void SessionListWindow::showNewRows() {
    model_->showNewRows();
    // The columns' header sizes its sections to their contents when columns come, not rows.
    QMetaObject::invokeMethod(table_->horizontalHeader(), "resizeSections");
    const QString counts = countsText(log_);
    counts_->setText(counts);
    counts_->setAccessibleName(counts);
}

void SessionListWindow::selectionChanged() {
    const bool any = table_->selectionModel()->hasSelection();
    copyButton_->setEnabled(any);
    copyAction_->setEnabled(any);
}

} // namespace fw::app
