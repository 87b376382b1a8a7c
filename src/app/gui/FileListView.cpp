#include "app/gui/FileListView.h"

#include "app/gui/Look.h"

#include <QDragEnterEvent>
#include <QDropEvent>
#include <QHeaderView>
#include <QHelpEvent>
#include <QItemSelection>
#include <QMimeData>
#include <QPainter>
#include <QResizeEvent>
#include <QToolTip>
#include <QUrl>

#include <algorithm>
#include <array>
#include <utility>
#include <vector>

namespace mobivert::gui {

namespace {

constexpr int TASK_ROLE = Qt::UserRole + 1;
constexpr int OUTPUT_ROLE = Qt::UserRole + 2;
constexpr int DURATION_ROLE = Qt::UserRole + 3;
constexpr int BYTES_ROLE = Qt::UserRole + 4;
constexpr int STATE_ROLE = Qt::UserRole + 5;
constexpr int PERCENT_ROLE = Qt::UserRole + 6;
constexpr int DETAIL_ROLE = Qt::UserRole + 7;
constexpr int REASON_ROLE = Qt::UserRole + 8;
constexpr int ROW_HEIGHT = 22;
// Source and Status take these shares of the list's width, Path the rest, so that no column
// is pushed out of sight when the window is made small.
constexpr double SOURCE_SHARE = 0.38;
constexpr double STATUS_SHARE = 0.37;
// Up to this many runs of adjacent rows are removed one run at a time; more, and the list is
// rebuilt from the rows that stay.
constexpr int kRunsRemovedInPlace = 8;

} // namespace

QString ProgressStatus(int percent, const QString& detail) {
    QString text = PROGRESS_MARK + QString::number(percent);
    return detail.isEmpty() ? text : text + "|" + detail;
}

void TProgressDelegate::initStyleOption(QStyleOptionViewItem* option,
                                        const QModelIndex& index) const {
    QStyledItemDelegate::initStyleOption(option, index);
    option->textElideMode = Qt::ElideRight;
}

void TProgressDelegate::paint(QPainter* painter, const QStyleOptionViewItem& option,
                              const QModelIndex& index) const {
    if (index.data(STATE_ROLE).toInt() != static_cast<int>(app::TFileState::Running)) {
        QStyledItemDelegate::paint(painter, option, index);
        return;
    }
    const int percent = std::clamp(index.data(PERCENT_ROLE).toInt(), 0, 100);
    const QString detail = index.data(DETAIL_ROLE).toString();

    painter->save();
    painter->setRenderHint(QPainter::Antialiasing, true);
    QRectF frame = QRectF(option.rect).adjusted(4, 4, -4, -4);
    painter->setPen(QColor(0x7d, 0x8f, 0xa6));
    painter->setBrush(QColor(0xf4, 0xf6, 0xf9));
    painter->drawRoundedRect(frame, 3, 3);
    if (percent > 0) {
        QRectF filled = frame.adjusted(1, 1, -1, -1);
        filled.setWidth(filled.width() * percent / 100.0);
        QLinearGradient gradient(filled.topLeft(), filled.bottomLeft());
        gradient.setColorAt(0, QColor(0x6f, 0xb4, 0xf0));
        gradient.setColorAt(1, QColor(0x25, 0x6e, 0xc2));
        painter->setPen(Qt::NoPen);
        painter->setBrush(gradient);
        painter->drawRoundedRect(filled, 2, 2);
    }
    QFont font = option.font;
    font.setBold(true);
    painter->setFont(font);
    QString caption = QString::number(percent) + "%";
    if (!detail.isEmpty())
        caption += "  " + detail;
    caption = QFontMetrics(font).elidedText(caption, Qt::ElideRight, int(frame.width()) - 6);
    // Light on the filled part, dark on the rest, so that a long caption reads across both.
    const qreal edge = frame.left() + 1 + (frame.width() - 2) * percent / 100.0;
    QRectF filledPart = frame;
    filledPart.setRight(edge);
    QRectF emptyPart = frame;
    emptyPart.setLeft(edge);
    for (const auto& [part, color] : {std::pair{filledPart, QColor(Qt::white)},
                                      std::pair{emptyPart, QColor(0x1d, 0x2b, 0x3a)}}) {
        painter->save();
        painter->setClipRect(part);
        painter->setPen(color);
        painter->drawText(frame, Qt::AlignCenter, caption);
        painter->restore();
    }
    painter->restore();
}

TFileListView::TFileListView(QWidget* parent) : QTableWidget(0, 3, parent) {
    setHorizontalHeaderLabels({"Source", "Status", "Path"});
    setEditTriggers(QAbstractItemView::NoEditTriggers);
    setSelectionBehavior(QAbstractItemView::SelectRows);
    setSelectionMode(QAbstractItemView::ExtendedSelection);
    setShowGrid(true);
    setWordWrap(false);
    setTextElideMode(Qt::ElideMiddle);
    setAlternatingRowColors(true);
    verticalHeader()->setVisible(false);
    verticalHeader()->setSectionResizeMode(QHeaderView::Fixed);
    verticalHeader()->setDefaultSectionSize(ROW_HEIGHT);
    horizontalHeader()->setHighlightSections(false);
    horizontalHeader()->setSectionResizeMode(QHeaderView::Interactive);
    horizontalHeader()->setStretchLastSection(true);
    horizontalHeader()->setDefaultAlignment(Qt::AlignLeft | Qt::AlignVCenter);
    setItemDelegateForColumn(fcStatus, new TProgressDelegate(this));
    setContextMenuPolicy(Qt::CustomContextMenu);
    setAcceptDrops(true);
    viewport()->setAcceptDrops(true);
    setDragDropMode(QAbstractItemView::DropOnly);
    // Rows that come or go move the rows after them: the task index is rebuilt when next used.
    auto stale = [this] { taskIndexStale_ = true; };
    connect(model(), &QAbstractItemModel::rowsInserted, this, stale);
    connect(model(), &QAbstractItemModel::rowsRemoved, this, stale);
    connect(model(), &QAbstractItemModel::modelReset, this, stale);
}

TFileListView::~TFileListView() {
    // The table's own destructor empties the model after this part is gone: its row signals
    // must no longer reach this object.
    disconnect(model(), nullptr, this, nullptr);
}

int TFileListView::AddRow(const QString& source, const QString& status, const QString& path) {
    int row = rowCount();
    insertRow(row);
    auto* sourceItem = new QTableWidgetItem(source);
    sourceItem->setData(TASK_ROLE, -1);
    sourceItem->setToolTip(path + source);
    setItem(row, fcSource, sourceItem);
    auto* statusItem = new QTableWidgetItem(status);
    statusItem->setData(STATE_ROLE, static_cast<int>(app::TFileState::Pending));
    setItem(row, fcStatus, statusItem);
    auto* pathItem = new QTableWidgetItem(path);
    pathItem->setToolTip(path);
    setItem(row, fcPath, pathItem);
    return row;
}

QString TFileListView::Status(int row) const {
    const QTableWidgetItem* cell = item(row, fcStatus);
    return cell ? cell->text() : QString();
}

void TFileListView::SetStatus(int row, app::TFileState state, const QString& status,
                              const QString& hint) {
    QTableWidgetItem* cell = item(row, fcStatus);
    if (!cell)
        return;
    cell->setText(status);
    cell->setToolTip(hint);
    cell->setData(Qt::AccessibleDescriptionRole, hint.isEmpty() ? QVariant() : QVariant(hint));
    cell->setData(STATE_ROLE, static_cast<int>(state));
    if (state != app::TFileState::Failed)
        cell->setData(REASON_ROLE, QVariant());
    const bool failed = state == app::TFileState::Failed;
    const bool done = app::WasConverted(state);
    cell->setIcon(failed ? FailedIcon() : done ? DoneIcon() : QIcon());
    cell->setForeground(failed ? QBrush(FailedColor()) : done ? QBrush(DoneColor()) : QBrush());
    QFont font = cell->font();
    font.setBold(failed);
    cell->setFont(font);
}

void TFileListView::SetProgress(int row, int percent, const QString& detail) {
    SetStatus(row, app::TFileState::Running, ProgressStatus(percent, detail));
    if (QTableWidgetItem* cell = item(row, fcStatus)) {
        cell->setData(PERCENT_ROLE, percent);
        cell->setData(DETAIL_ROLE, detail);
    }
}

app::TFileState TFileListView::State(int row) const {
    const QTableWidgetItem* cell = item(row, fcStatus);
    return cell ? static_cast<app::TFileState>(cell->data(STATE_ROLE).toInt())
                : app::TFileState::Pending;
}

int TFileListView::Percent(int row) const {
    const QTableWidgetItem* cell = item(row, fcStatus);
    return cell ? cell->data(PERCENT_ROLE).toInt() : 0;
}

QString TFileListView::Reason(int row) const {
    const QTableWidgetItem* cell = item(row, fcStatus);
    return cell ? cell->data(REASON_ROLE).toString() : QString();
}

void TFileListView::SetReason(int row, const QString& reason) {
    if (QTableWidgetItem* cell = item(row, fcStatus))
        cell->setData(REASON_ROLE, reason);
}

app::TSourceWork TFileListView::Work(int row) const {
    app::TSourceWork work;
    if (const QTableWidgetItem* source = item(row, fcSource)) {
        const QVariant duration = source->data(DURATION_ROLE);
        work.DurationMs = duration.isValid() ? duration.toLongLong() : -1;
        work.Bytes = source->data(BYTES_ROLE).toLongLong();
    }
    return work;
}

void TFileListView::SetWork(int row, const app::TSourceWork& work) {
    if (QTableWidgetItem* source = item(row, fcSource)) {
        source->setData(DURATION_ROLE, QVariant::fromValue<qlonglong>(work.DurationMs));
        source->setData(BYTES_ROLE, QVariant::fromValue<qlonglong>(work.Bytes));
    }
}

QString TFileListView::FullPath(int row) const {
    const QTableWidgetItem* source = item(row, fcSource);
    const QTableWidgetItem* path = item(row, fcPath);
    return source && path ? path->text() + source->text() : QString();
}

int TFileListView::Task(int row) const {
    const QTableWidgetItem* source = item(row, fcSource);
    return source ? source->data(TASK_ROLE).toInt() : -1;
}

void TFileListView::SetTask(int row, int task) {
    if (QTableWidgetItem* source = item(row, fcSource)) {
        source->setData(TASK_ROLE, task);
        taskIndexStale_ = true;
    }
}

int TFileListView::IndexedRow(int task) const {
    const auto at = static_cast<size_t>(task);
    if (at >= rowOfTask_.size())
        return -1;
    const int row = rowOfTask_[at];
    return row >= 0 && row < rowCount() && Task(row) == task ? row : -1;
}

void TFileListView::RebuildTaskIndex() const {
    rowOfTask_.assign(static_cast<size_t>(rowCount()), -1);
    for (int row = rowCount() - 1; row >= 0; --row) {
        const int task = Task(row);
        if (task < 0)
            continue;
        if (static_cast<size_t>(task) >= rowOfTask_.size())
            rowOfTask_.resize(static_cast<size_t>(task) + 1, -1);
        // From the bottom up: the first row with the task wins, as a search from the top would.
        rowOfTask_[static_cast<size_t>(task)] = row;
    }
    taskIndexStale_ = false;
}

int TFileListView::RowOfTask(int task) const {
    if (task < 0)
        return -1;
    if (int row = IndexedRow(task); row >= 0 || !taskIndexStale_)
        return row;
    RebuildTaskIndex();
    return IndexedRow(task);
}

void TFileListView::RemoveRows(QList<int> rows) {
    std::sort(rows.begin(), rows.end());
    rows.erase(std::unique(rows.begin(), rows.end()), rows.end());
    int runs = 0;
    for (qsizetype i = 0; i < rows.size(); ++i)
        runs += i == 0 || rows[i - 1] != rows[i] - 1;
    if (runs <= kRunsRemovedInPlace) {
        // From the bottom up, so that the rows still to remove keep their places.
        for (auto last = rows.size(); last > 0;) {
            auto first = last - 1;
            while (first > 0 && rows[first - 1] == rows[first] - 1)
                --first;
            model()->removeRows(rows[first], rows[last - 1] - rows[first] + 1);
            last = first;
        }
        return;
    }
    // Every removal moves the rows after it (and the view's and selection's records of them):
    // rows scattered over a long list are removed by taking out the rows that stay, emptying
    // the list and putting them back, whatever the number of runs.
    std::vector<std::array<QTableWidgetItem*, 3>> kept;
    kept.reserve(static_cast<size_t>(rowCount() - rows.size()));
    auto removed = rows.cbegin();
    for (int row = 0; row < rowCount(); ++row) {
        if (removed != rows.cend() && *removed == row) {
            ++removed;
            continue;
        }
        kept.push_back({takeItem(row, fcSource), takeItem(row, fcStatus), takeItem(row, fcPath)});
    }
    setRowCount(0);
    setRowCount(static_cast<int>(kept.size()));
    for (size_t row = 0; row < kept.size(); ++row)
        for (int column : {fcSource, fcStatus, fcPath})
            setItem(static_cast<int>(row), column, kept[row][static_cast<size_t>(column)]);
}

QString TFileListView::Output(int row) const {
    const QTableWidgetItem* source = item(row, fcSource);
    return source ? source->data(OUTPUT_ROLE).toString() : QString();
}

void TFileListView::SetOutput(int row, const QString& path) {
    if (QTableWidgetItem* source = item(row, fcSource))
        source->setData(OUTPUT_ROLE, path);
}

int TFileListView::SelectedRow() const {
    const QList<int> rows = SelectedRows();
    return rows.isEmpty() ? -1 : rows.first();
}

QList<int> TFileListView::SelectedRows() const {
    // Read from the selection's ranges: the model's own list of selected rows asks, for each
    // row, whether every range selects it, which is slow for thousands of scattered rows. Rows
    // are always selected whole here.
    QList<int> rows;
    for (const QItemSelectionRange& range : selectionModel()->selection())
        for (int row = range.top(); row <= range.bottom(); ++row)
            rows << row;
    std::sort(rows.begin(), rows.end());
    rows.erase(std::unique(rows.begin(), rows.end()), rows.end());
    return rows;
}

QStringList LocalFiles(const QMimeData* data) {
    QStringList files;
    if (!data || !data->hasUrls())
        return files;
    for (const QUrl& url : data->urls())
        if (url.isLocalFile())
            files << url.toLocalFile();
    return files;
}

void TFileListView::dragEnterEvent(QDragEnterEvent* event) {
    if (acceptFiles_ && !LocalFiles(event->mimeData()).isEmpty())
        event->acceptProposedAction();
    else
        event->ignore();
}

void TFileListView::dragMoveEvent(QDragMoveEvent* event) {
    if (acceptFiles_ && !LocalFiles(event->mimeData()).isEmpty())
        event->acceptProposedAction();
    else
        event->ignore();
}

void TFileListView::dropEvent(QDropEvent* event) {
    QStringList files = LocalFiles(event->mimeData());
    if (!acceptFiles_ || files.isEmpty()) {
        event->ignore();
        return;
    }
    event->acceptProposedAction();
    emit FilesDropped(files);
}

bool TFileListView::viewportEvent(QEvent* event) {
    if (event->type() != QEvent::ToolTip)
        return QTableWidget::viewportEvent(event);
    auto* help = static_cast<QHelpEvent*>(event);
    const QTableWidgetItem* cell = itemAt(help->pos());
    const QString text = cell ? cell->toolTip() : QString();
    if (text.isEmpty()) {
        QToolTip::hideText();
        event->ignore();
        return true;
    }
    // Rich text is wrapped by the tooltip; plain text would stay on one line. Its paragraphs
    // (a failure's plain words, then the libraries' text) stay apart.
    const QString html = text.toHtmlEscaped().replace("\n\n", "</p><p>").replace('\n', "<br>");
    QToolTip::showText(help->globalPos(), "<p>" + html + "</p>", viewport(), visualItemRect(cell));
    return true;
}

void TFileListView::resizeEvent(QResizeEvent* event) {
    QTableWidget::resizeEvent(event);
    const int width = viewport()->width();
    setColumnWidth(fcSource, static_cast<int>(width * SOURCE_SHARE));
    setColumnWidth(fcStatus, static_cast<int>(width * STATUS_SHARE));
}

void TFileListView::paintEvent(QPaintEvent* event) {
    QTableWidget::paintEvent(event);
    if (rowCount() > 0)
        return;
    // An empty list says how files get into it.
    QPainter painter(viewport());
    painter.setPen(QColor(0x8a, 0x99, 0xab));
    painter.drawText(viewport()->rect().adjusted(20, 20, -20, -20),
                     Qt::AlignCenter | Qt::TextWordWrap,
                     "Press \"Add...\" or drop video and audio files here");
}

} // namespace mobivert::gui
