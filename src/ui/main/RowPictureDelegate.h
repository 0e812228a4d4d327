#pragma once

#include <QPixmap>
#include <QStyledItemDelegate>

// Draws the small row picture in the first column of the entry list. A delegate rather than a
// proxy model: the view then asks the entry model directly, which keeps large lists quick.
class RowPictureDelegate : public QStyledItemDelegate {
    Q_OBJECT
public:
    RowPictureDelegate(const QPixmap& picture, QObject* parent = nullptr)
        : QStyledItemDelegate(parent)
        , m_icon(picture)
    {
    }

protected:
    void initStyleOption(QStyleOptionViewItem* option, const QModelIndex& index) const override
    {
        QStyledItemDelegate::initStyleOption(option, index);
        if (index.column() == 0) {
            option->features |= QStyleOptionViewItem::HasDecoration;
            option->icon = m_icon;
            option->decorationSize = m_icon.availableSizes().value(0, option->decorationSize);
        }
    }

private:
    QIcon m_icon;
};
