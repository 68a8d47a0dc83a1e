// The result list control: a one-column list view over the window logic's
// entry collection, read in place.
#pragma once

#include <QAbstractListModel>
#include <QStyledItemDelegate>
#include <QTreeView>
#include <memory>
#include <string_view>

#include "qt/text_width.h"
#include "window/list_items.h"

namespace kestrafin::qt {

// The rows the logic has shown so far, in the order of its entries.
class ResultListModel : public QAbstractListModel {
    Q_OBJECT
  public:
    ResultListModel(const window::ListItems& items, QObject* parent)
        : QAbstractListModel(parent), items_(items) {}

    int rowCount(const QModelIndex& parent = {}) const override;
    QVariant data(const QModelIndex& index, int role) const override;
    QVariant headerData(int section, Qt::Orientation orientation, int role) const override;

    const window::EntryStore& store() const { return items_.store(); }
    // The first `rows` entries show; every row may have changed.
    void reset(std::size_t rows);
    // The first `rows` entries show; those shown so far are unchanged.
    void grow(std::size_t rows);

  private:
    const window::ListItems& items_;
    std::size_t shown_rows_ = 0;
};

// Draws the rows at a height that holds every glyph a name may bring: a
// name in Arabic or Hebrew is drawn in a fallback font that reaches further
// down than the list's own, and an underscore on the row's last pixel line
// is painted over by the focus line and the next row.
class RowDelegate : public QStyledItemDelegate {
  public:
    using QStyledItemDelegate::QStyledItemDelegate;
    // The rows' height for `font`.
    void fit_to(const QFont& font);
    int row_height() const { return height_; }
    QSize sizeHint(const QStyleOptionViewItem& option, const QModelIndex& index) const override;

  private:
    int height_ = 0;
};

// Rows are never shortened: the column is as wide as the widest entry, and a
// horizontal scroll bar reaches the end of every row.
class ResultListView : public QTreeView {
    Q_OBJECT
  public:
    ResultListView(window::ListItems& items, QWidget* parent);
    window::ListItems& list_items() { return items_; }
    const window::ListItems& list_items() const { return items_; }
    void rows_reset(std::size_t rows) { model_.reset(rows); }
    void rows_grown(std::size_t rows) { model_.grow(rows); }
    // The width of the widest entry text, in pixels of the list's font.
    int widest_entry() const { return widest_entry_; }
    // How many entry texts have been laid out in full to find the widest.
    int text_layouts() const { return text_layouts_; }
    // The least height of a row in the list's font.
    int row_height() const { return delegate_.row_height(); }

  signals:
    // The user asked to copy the selected rows (Ctrl+C).
    void copy_requested();

  protected:
    void keyPressEvent(QKeyEvent* event) override;
    void updateGeometries() override;
    void changeEvent(QEvent* event) override;

  private:
    void widen_for_rows(int first, int last);
    void fit_column();

    window::ListItems& items_;
    ResultListModel model_;
    RowDelegate delegate_;
    std::unique_ptr<TextWidth> text_width_;
    int widest_entry_ = 0;
    // The widest estimate so far; only texts estimated wider are measured.
    int widest_estimate_ = 0;
    int text_layouts_ = 0;
};

}  // namespace kestrafin::qt
