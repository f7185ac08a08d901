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
    // A text cut short in its column shows whole in a tooltip, unless the model has one of its
    // own.
    bool helpEvent(QHelpEvent *evento, QAbstractItemView *vista,
        const QStyleOptionViewItem &opzione, const QModelIndex &indice) override;

private:
    struct Testi
    {
        QHash<QString, QStaticText> recenti, precedenti;
    };
    const QStaticText &testoPronto(const QString &testo, const QFont &carattere) const;

    // Texts laid out, by weight. A view shows a few hundred texts at once, and a long run shows
    // new ones without end (times, counts): once the recent ones fill up they become the
    // previous ones, and a text not painted since is let go. The two together hold a screenful
    // of the table; each text laid out takes about 350 bytes.
    static constexpr qsizetype kTestiRecenti = 256;
    mutable Testi m_testi[2];
};
