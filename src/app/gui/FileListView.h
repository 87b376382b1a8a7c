#pragma once
// The source list: a read-only, whole-row list with grid lines and the columns Source, Status and
// Path. Each row keeps its file's state, and while it runs its percentage, as data of its own;
// the status text is what the row shows and says. A running row is drawn as a progress bar
// filled to its percentage, with its detail (speed, time left, "Paused") beside the percentage.
// Local files dropped onto the list are handed on through FilesDropped.

#include "app/shared/FileState.h"
#include "app/shared/ProgressClock.h"

#include <QStringList>
#include <QStyledItemDelegate>
#include <QTableWidget>
#include <vector>

namespace mobivert::gui {

// The status text of a running row begins with this mark.
inline constexpr const char* PROGRESS_MARK = "{|";

enum TFileColumn { fcSource = 0, fcStatus = 1, fcPath = 2 };

// Paints the status cells of running rows as a bar, everything else as usual.
class TProgressDelegate : public QStyledItemDelegate {
public:
    using QStyledItemDelegate::QStyledItemDelegate;
    void paint(QPainter* painter, const QStyleOptionViewItem& option,
               const QModelIndex& index) const override;

protected:
    // A long status such as a failure's reason is cut at its end, where the tooltip goes on.
    void initStyleOption(QStyleOptionViewItem* option, const QModelIndex& index) const override;
};

// The text of a progress cell: the mark, the percentage and, when not empty, the detail.
QString ProgressStatus(int percent, const QString& detail = QString());

class TFileListView : public QTableWidget {
    Q_OBJECT
public:
    explicit TFileListView(QWidget* parent = nullptr);
    ~TFileListView() override;

    // Appends a waiting row and returns its index.
    int AddRow(const QString& source, const QString& status, const QString& path);
    QString Status(int row) const;
    // The row's state with the text it shows; a converted or failed row gets its mark and
    // colour as well. The hint is the cell's tooltip and what a screen reader says of it.
    void SetStatus(int row, app::TFileState state, const QString& status,
                   const QString& hint = QString());
    // The row runs: its bar shows the percentage and the detail beside it.
    void SetProgress(int row, int percent, const QString& detail = QString());
    app::TFileState State(int row) const;
    // A running row's percentage (0 when it has none).
    int Percent(int row) const;
    // Why a failed row failed, in plain words (empty when it did not).
    QString Reason(int row) const;
    void SetReason(int row, const QString& reason);
    // What the row's source holds, as known once it was probed, for weighing the batch.
    app::TSourceWork Work(int row) const;
    void SetWork(int row, const app::TSourceWork& work);
    // Path followed by Source.
    QString FullPath(int row) const;
    // The converter task of a row, -1 when it has none.
    int Task(int row) const;
    void SetTask(int row, int task);
    // The row whose task is the given one, or -1. Looked up in an index that is rebuilt only
    // after rows or tasks changed, so that a batch's many reports cost the same per row
    // whatever the list's length.
    int RowOfTask(int task) const;
    // Removes the rows (any order, duplicates allowed) with one model change per run of
    // adjacent rows.
    void RemoveRows(QList<int> rows);
    // The output file written for the row's source, empty while it has none.
    QString Output(int row) const;
    void SetOutput(int row, const QString& path);
    // The selected row (the first one when several are), or -1.
    int SelectedRow() const;
    // Every selected row, in ascending order.
    QList<int> SelectedRows() const;

    // Drops are taken only while this is set (the window clears it during a batch).
    void SetAcceptFiles(bool accept) { acceptFiles_ = accept; }

signals:
    void FilesDropped(const QStringList& files);

protected:
    // A cell's tooltip is wrapped to lines of a readable length: a failure's reason can be
    // longer than the screen is wide.
    bool viewportEvent(QEvent* event) override;
    void dragEnterEvent(QDragEnterEvent* event) override;
    void dragMoveEvent(QDragMoveEvent* event) override;
    void dropEvent(QDropEvent* event) override;
    void paintEvent(QPaintEvent* event) override;
    void resizeEvent(QResizeEvent* event) override;

private:
    // The index's row for the task when that row still has the task, else -1.
    int IndexedRow(int task) const;
    void RebuildTaskIndex() const;

    bool acceptFiles_ = true;
    mutable std::vector<int> rowOfTask_;
    mutable bool taskIndexStale_ = true;
};

// The local files among the dropped URLs, in their order.
QStringList LocalFiles(const class QMimeData* data);

} // namespace mobivert::gui
