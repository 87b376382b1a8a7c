#include "app/gui/FileListView.h"

#include <QDragEnterEvent>
#include <QDropEvent>
#include <QHeaderView>
#include <QMimeData>
#include <QPainter>
#include <QResizeEvent>
#include <QUrl>

#include <algorithm>

namespace mobivert::gui {

namespace {

constexpr int TASK_ROLE = Qt::UserRole + 1;
constexpr int ROW_HEIGHT = 22;
// Source and Status take these shares of the list's width, Path the rest, so that no column
// is pushed out of sight when the window is made small.
constexpr double SOURCE_SHARE = 0.45;
constexpr double STATUS_SHARE = 0.27;

} // namespace

void TProgressDelegate::paint(QPainter* painter, const QStyleOptionViewItem& option,
                              const QModelIndex& index) const {
    QString text = index.data(Qt::DisplayRole).toString();
    if (!text.startsWith(PROGRESS_MARK)) {
        QStyledItemDelegate::paint(painter, option, index);
        return;
    }
    bool ok = false;
    int percent = text.mid(2).toInt(&ok);
    percent = ok ? std::clamp(percent, 0, 100) : 0;

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
    painter->setPen(percent >= 50 ? Qt::white : QColor(0x1d, 0x2b, 0x3a));
    QFont font = option.font;
    font.setBold(true);
    painter->setFont(font);
    painter->drawText(frame, Qt::AlignCenter, QString::number(percent) + "%");
    painter->restore();
}

TFileListView::TFileListView(QWidget* parent) : QTableWidget(0, 3, parent) {
    setHorizontalHeaderLabels({"Source", "Status", "Path"});
    setEditTriggers(QAbstractItemView::NoEditTriggers);
    setSelectionBehavior(QAbstractItemView::SelectRows);
    setSelectionMode(QAbstractItemView::SingleSelection);
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
}

int TFileListView::AddRow(const QString& source, const QString& status, const QString& path) {
    int row = rowCount();
    insertRow(row);
    auto* sourceItem = new QTableWidgetItem(source);
    sourceItem->setData(TASK_ROLE, -1);
    sourceItem->setToolTip(path + source);
    setItem(row, fcSource, sourceItem);
    setItem(row, fcStatus, new QTableWidgetItem(status));
    auto* pathItem = new QTableWidgetItem(path);
    pathItem->setToolTip(path);
    setItem(row, fcPath, pathItem);
    return row;
}

QString TFileListView::Status(int row) const {
    const QTableWidgetItem* cell = item(row, fcStatus);
    return cell ? cell->text() : QString();
}

void TFileListView::SetStatus(int row, const QString& status, const QString& hint) {
    QTableWidgetItem* cell = item(row, fcStatus);
    if (!cell)
        return;
    cell->setText(status);
    cell->setToolTip(hint);
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
    if (QTableWidgetItem* source = item(row, fcSource))
        source->setData(TASK_ROLE, task);
}

int TFileListView::RowOfTask(int task) const {
    if (task < 0)
        return -1;
    for (int row = 0; row < rowCount(); ++row)
        if (Task(row) == task)
            return row;
    return -1;
}

int TFileListView::SelectedRow() const {
    const QList<QTableWidgetItem*> chosen = selectedItems();
    return chosen.isEmpty() ? -1 : chosen.first()->row();
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
