// The result list control: a one-column list view over the program's own
// compact model, with the entry collection the handlers work through.
#pragma once

#include <QAbstractListModel>
#include <QTreeView>
#include <memory>
#include <string_view>

#include "app/entry_store.h"
#include "app/text_width.h"

namespace kestrafin::app {

class ResultListModel : public QAbstractListModel {
    Q_OBJECT
  public:
    using QAbstractListModel::QAbstractListModel;

    int rowCount(const QModelIndex& parent = {}) const override;
    QVariant data(const QModelIndex& index, int role) const override;
    QVariant headerData(int section, Qt::Orientation orientation, int role) const override;

    EntryStore& store() { return store_; }
    const EntryStore& store() const { return store_; }
    // Tells the view about entries added to the store since the last call.
    void show_added_rows();
    void clear();
    // Replaces every entry with those of `entries` at once.
    void replace(EntryStore&& entries);

  private:
    EntryStore store_;
    std::size_t shown_rows_ = 0;
};

// The entry collection of the list: entries numbered from 1 in the order added.
class ListItems {
  public:
    explicit ListItems(ResultListModel& model) : model_(model) {}
    // Appends an entry; the view learns of it at the next show_added_rows()
    // or Refresh(), so that a long run of additions stays cheap.
    void Add(std::string_view text) { model_.store().add(text); }
    std::size_t Count() const { return model_.store().size(); }
    void Clear() { model_.clear(); }
    // The text of the entry at `position`, from 1 to Count().
    std::string_view Text(std::size_t position) const { return model_.store().text(position - 1); }
    void Refresh() { model_.show_added_rows(); }
    // Replaces every entry with those of `entries` at once.
    void ReplaceAll(EntryStore&& entries) { model_.replace(std::move(entries)); }

  private:
    ResultListModel& model_;
};

// Rows are never shortened: the column is as wide as the widest entry, and a
// horizontal scroll bar reaches the end of every row.
class ResultListView : public QTreeView {
    Q_OBJECT
  public:
    explicit ResultListView(QWidget* parent = nullptr);
    ListItems& list_items() { return items_; }
    const ListItems& list_items() const { return items_; }
    // The width of the widest entry text, in pixels of the list's font.
    int widest_entry() const { return widest_entry_; }
    // How many entry texts have been laid out in full to find the widest.
    int text_layouts() const { return text_layouts_; }

  protected:
    void updateGeometries() override;
    void changeEvent(QEvent* event) override;

  private:
    void widen_for_rows(int first, int last);
    void fit_column();

    ResultListModel model_;
    ListItems items_;
    std::unique_ptr<TextWidth> text_width_;
    int widest_entry_ = 0;
    // The widest estimate so far; only texts estimated wider are measured.
    int widest_estimate_ = 0;
    int text_layouts_ = 0;
};

}  // namespace kestrafin::app
