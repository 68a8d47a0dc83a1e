#include "qt/result_list.h"

#include <QEvent>
#include <QGlyphRun>
#include <QHeaderView>
#include <QKeyEvent>
#include <QStyle>
#include <QTextLayout>
#include <algorithm>
#include <cmath>

#include "platform/path_rules.h"
#include "window/shown_row.h"
#include "window/tip_lines.h"
#include "window/window_design.h"

namespace kestrafin::qt {

int ResultListModel::rowCount(const QModelIndex& parent) const {
    return parent.isValid() ? 0 : static_cast<int>(shown_rows_);
}

QVariant ResultListModel::data(const QModelIndex& index, int role) const {
    if ((role != Qt::DisplayRole && role != Qt::ToolTipRole) || !index.isValid() ||
        index.column() != 0 || static_cast<std::size_t>(index.row()) >= shown_rows_)
        return {};
    const std::string_view text = store().text(static_cast<std::size_t>(index.row()));
    if (role == Qt::DisplayRole)
        return QString::fromStdString(window::shown_row_text(text, platform::kPathSeparator));
    return QString::fromStdU16String(window::row_tip(text, platform::kPathSeparator, u"\n"));
}

QVariant ResultListModel::headerData(int section, Qt::Orientation orientation, int role) const {
    if (role == Qt::DisplayRole && orientation == Qt::Horizontal && section == 0)
        return QString::fromUtf8(window::design::kColumnHeading.data(),
                                 static_cast<qsizetype>(window::design::kColumnHeading.size()));
    return QAbstractListModel::headerData(section, orientation, role);
}

void ResultListModel::reset(std::size_t rows) {
    beginResetModel();
    shown_rows_ = rows;
    endResetModel();
}

void ResultListModel::grow(std::size_t rows) {
    if (rows <= shown_rows_) return;
    beginInsertRows({}, static_cast<int>(shown_rows_), static_cast<int>(rows - 1));
    shown_rows_ = rows;
    endInsertRows();
}

namespace {

// Letters of the scripts names are written in, each with an underscore after
// it: accented Latin, Arabic, Hebrew, CJK and an emoji.
const QString kEveryScript = QStringLiteral(
    u"_\u00C1g_\u0639\u0631\u0628\u064A_\u05E2\u05D1\u05E8\u05D9\u05EA_"
    u"\u6F22\u5B57_\U0001F600_");

}  // namespace

void RowDelegate::fit_to(const QFont& font) {
    // The line's height covers the ascent and descent of every font its glyphs
    // come from; the ink of a glyph (an underscore, a mark) may reach past them.
    QTextLayout layout(kEveryScript, font);
    layout.beginLayout();
    QTextLine line = layout.createLine();
    layout.endLayout();
    qreal top = 0, bottom = line.height();
    for (const QGlyphRun& run : layout.glyphRuns()) {
        const QRectF ink = run.boundingRect();
        top = std::min(top, ink.top());
        bottom = std::max(bottom, ink.bottom());
    }
    // Drawn centred: room for the larger overshoot on both sides, and two
    // pixels each for the focus line and the selection's edge.
    const qreal over = std::max(-top, bottom - line.height());
    height_ = static_cast<int>(std::ceil(line.height() + 2 * over)) + 4;
}

QSize RowDelegate::sizeHint(const QStyleOptionViewItem& option, const QModelIndex& index) const {
    QSize size = QStyledItemDelegate::sizeHint(option, index);
    size.setHeight(std::max(size.height(), height_));
    return size;
}

ResultListView::ResultListView(window::ListItems& items, QWidget* parent)
    : QTreeView(parent),
      items_(items),
      model_(items, this),
      delegate_(this),
      text_width_(new TextWidth(font())) {
    delegate_.fit_to(font());
    setItemDelegate(&delegate_);
    setModel(&model_);
    setRootIsDecorated(false);
    setUniformRowHeights(true);
    setItemsExpandable(false);
    setEditTriggers(QAbstractItemView::NoEditTriggers);
    setSelectionMode(QAbstractItemView::ExtendedSelection);
    setSortingEnabled(false);
    setTextElideMode(Qt::ElideNone);
    setHorizontalScrollBarPolicy(Qt::ScrollBarAsNeeded);
    setHorizontalScrollMode(QAbstractItemView::ScrollPerPixel);
    header()->setStretchLastSection(false);
    header()->setSectionResizeMode(QHeaderView::Fixed);
    header()->setSectionsClickable(false);
    connect(&model_, &QAbstractItemModel::rowsInserted, this,
            [this](const QModelIndex&, int first, int last) { widen_for_rows(first, last); });
    connect(&model_, &QAbstractItemModel::modelReset, this, [this] {
        widest_entry_ = widest_estimate_ = 0;
        widen_for_rows(0, model_.rowCount() - 1);
    });
}

// Every added text is estimated; only the batch's widest, when it may be the
// widest yet, is laid out in full, so a million rows cost a million cheap sums
// (of their file names, mostly: a folder's width is kept for its next files)
// and one layout per batch, even when each row is wider than the last (as in
// a deep walk).
void ResultListView::widen_for_rows(int first, int last) {
    const window::EntryStore& store = model_.store();
    int widest_row = -1;
    for (int row = first; row <= last; ++row) {
        const int estimate = text_width_->estimate_row(store.text(static_cast<std::size_t>(row)));
        if (estimate <= widest_estimate_) continue;
        widest_estimate_ = estimate;
        widest_row = row;
    }
    if (widest_row >= 0) {
        ++text_layouts_;
        const std::string_view text = store.text(static_cast<std::size_t>(widest_row));
        // The layout, not the estimate: without kerning a row of thousands
        // of characters is estimated wider by more than the list shows, and
        // scrolled to its end the list would show nothing of it.
        widest_entry_ = std::max(widest_entry_, text_width_->measure(text));
    }
    fit_column();
}

void ResultListView::fit_column() {
    // Room for the item's own margins on both sides.
    const int margins = 2 * (style()->pixelMetric(QStyle::PM_FocusFrameHMargin, nullptr, this) + 1);
    const int wanted = std::max(viewport()->width(), widest_entry_ + margins + 4);
    if (header()->sectionSize(0) != wanted) header()->resizeSection(0, wanted);
}

void ResultListView::keyPressEvent(QKeyEvent* event) {
    if (event->matches(QKeySequence::Copy)) {
        emit copy_requested();
        return;
    }
    QTreeView::keyPressEvent(event);
}

void ResultListView::updateGeometries() {
    fit_column();
    QTreeView::updateGeometries();
}

void ResultListView::changeEvent(QEvent* event) {
    QTreeView::changeEvent(event);
    if (event->type() == QEvent::FontChange) {
        delegate_.fit_to(font());
        scheduleDelayedItemsLayout();
        text_width_ = std::make_unique<TextWidth>(font());
        widest_entry_ = widest_estimate_ = 0;
        widen_for_rows(0, model_.rowCount() - 1);
    }
}

}  // namespace kestrafin::qt
