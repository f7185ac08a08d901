#pragma once

#include <QHash>
#include <QStaticText>
#include <QStyledItemDelegate>

// Paints a cell as the traffic and table views need it, its background, its colour and its one
// line of text, left or right, with the text's layout kept from one paint to the next. The views
// repaint their rows as each request ends; Qt's own delegate asks the model for every role and
// lays every text out anew each time, which cost more processor time than the request itself.
// Editing stays Qt's own.
class DelegatoVeloce : public QStyledItemDelegate
{
public:
    using QStyledItemDelegate::QStyledItemDelegate;

    void paint(QPainter *pittore, const QStyleOptionViewItem &opzione,
        const QModelIndex &indice) const override;

private:
    // Texts laid out, by text and weight; emptied when it grows past a screenful many times.
    static constexpr qsizetype kMassimoTesti = 4096;
    mutable QHash<QString, QStaticText> m_testi[2];
};
