#pragma once

#include <QIdentityProxyModel>
#include <QPixmap>

// Adds the small row picture to the first column of the entry list.
class RowPictureModel : public QIdentityProxyModel {
    Q_OBJECT
public:
    RowPictureModel(const QPixmap& picture, QObject* parent = nullptr)
        : QIdentityProxyModel(parent)
        , m_picture(picture)
    {
    }

    QVariant data(const QModelIndex& index, int role) const override
    {
        if (role == Qt::DecorationRole && index.column() == 0)
            return m_picture;
        return QIdentityProxyModel::data(index, role);
    }

private:
    QPixmap m_picture;
};
