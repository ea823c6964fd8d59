#pragma once

#include "core/TStringList.h"

#include <QList>
#include <QListView>
#include <QString>

#include <cstdint>
#include <string_view>
#include <vector>

// A list box of paths shown straight from a string list: the rows are the list's texts, kept
// as bytes in the list's packed blocks and turned into display text only for the rows the view
// asks about. Filling it with a new list replaces everything in one step, and no object is
// made or freed per row however long the list is. It keeps its rows in the platform's
// case-insensitive order, duplicates kept; a list that is sorted already keeps its order.
//
// It answers the calls a list of item objects would (count, item, findItems, setCurrentRow,
// setCurrentItem), with an item being a small handle to a row rather than an object it holds.
class TListBox : public QListView {
public:
    // A row of the list box, as long as its items are not replaced.
    class Item {
    public:
        int row() const { return row_; }
        // The row's path as shown: its bytes read as UTF-8.
        QString text() const;
        // The row's path, byte for byte as the list was given it.
        std::string_view bytes() const;
        // An item is used like a pointer to one: item(row)->text().
        const Item* operator->() const { return this; }
        bool operator==(const Item&) const = default;

    private:
        friend class TListBox;
        Item(const TListBox* box, int row) : box_(box), row_(row) {}
        const TListBox* box_;
        int row_;
    };

    explicit TListBox(QWidget* parent = nullptr);
    ~TListBox() override;

    // Replaces every row by the texts of list, in one step. The current row and the selection
    // are cleared.
    void setItems(TStringList list);
    void clear() { setItems(TStringList()); }

    int count() const;
    Item item(int row) const { return Item(this, row); }
    // The path of a row, byte for byte; row must be within the list.
    std::string_view bytes(int row) const;
    QList<Item> findItems(const QString& text, Qt::MatchFlags flags) const;

    // The row with the focus, -1 when none.
    int currentRow() const;
    // Makes row the current and only selected row; -1 clears both.
    void setCurrentRow(int row);
    void setCurrentItem(const Item& item) { setCurrentRow(item.row()); }

private:
    class Model;
    Model* model_;
};
