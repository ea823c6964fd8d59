#include "app/TListBox.h"

#include "core/CompareText.h"

#include <QAbstractListModel>
#include <QItemSelectionModel>

// The rows, seen through the view: data() decodes only the row asked about.
class TListBox::Model : public QAbstractListModel {
public:
    using QAbstractListModel::QAbstractListModel;

    void replace(TStringList list)
    {
        std::vector<std::uint32_t> order;
        if (!list.Sorted())
            order = core::AnsiSortOrder(std::size_t(list.Count()),
                                        [&](std::size_t i) { return list[int(i)]; });
        beginResetModel();
        list_ = std::move(list);
        order_ = std::move(order);
        endResetModel();
    }

    int count() const { return list_.Count(); }

    std::string_view bytes(int row) const
    {
        return list_[order_.empty() ? row : int(order_[std::size_t(row)])];
    }

    static QString text(std::string_view bytes)
    {
        return QString::fromUtf8(bytes.data(), qsizetype(bytes.size()));
    }

    int rowCount(const QModelIndex& parent) const override
    {
        return parent.isValid() ? 0 : list_.Count();
    }

    QVariant data(const QModelIndex& index, int role) const override
    {
        if (!index.isValid() || index.row() >= list_.Count())
            return {};
        if (role == Qt::DisplayRole)
            return text(bytes(index.row()));
        return {};
    }

private:
    TStringList list_;
    // The rows' places in list_ when it was not sorted; empty when its own order is the rows'.
    std::vector<std::uint32_t> order_;
};

QString TListBox::Item::text() const { return Model::text(bytes()); }

std::string_view TListBox::Item::bytes() const { return box_->bytes(row_); }

TListBox::TListBox(QWidget* parent) : QListView(parent), model_(new Model(this))
{
    setModel(model_);
    setSelectionMode(QAbstractItemView::SingleSelection);
    setEditTriggers(QAbstractItemView::NoEditTriggers);
}

TListBox::~TListBox() = default;

void TListBox::setItems(TStringList list) { model_->replace(std::move(list)); }

int TListBox::count() const { return model_->count(); }

std::string_view TListBox::bytes(int row) const { return model_->bytes(row); }

QList<TListBox::Item> TListBox::findItems(const QString& text, Qt::MatchFlags flags) const
{
    QList<Item> found;
    const QModelIndexList matches =
        model_->match(model_->index(0, 0), Qt::DisplayRole, text, -1, flags);
    for (const QModelIndex& index : matches)
        found.append(item(index.row()));
    return found;
}

int TListBox::currentRow() const
{
    const QModelIndex current = currentIndex();
    return current.isValid() ? current.row() : -1;
}

void TListBox::setCurrentRow(int row)
{
    selectionModel()->setCurrentIndex(model_->index(row, 0),
                                      QItemSelectionModel::ClearAndSelect);
}
