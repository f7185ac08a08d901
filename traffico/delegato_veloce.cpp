#include "delegato_veloce.h"

#include <QAbstractItemView>
#include <QApplication>
#include <QHelpEvent>
#include <QPainter>
#include <QToolTip>

namespace {

QRect areaDelTesto(const QRect &cella)
{
    const int margine = QApplication::style()->pixelMetric(QStyle::PM_FocusFrameHMargin) + 1;
    return cella.adjusted(margine, 0, -margine, 0);
}

} // namespace

bool DelegatoVeloce::helpEvent(QHelpEvent *evento, QAbstractItemView *vista,
    const QStyleOptionViewItem &opzione, const QModelIndex &indice)
{
    if (evento->type() != QEvent::ToolTip || !indice.isValid()
        || indice.data(Qt::ToolTipRole).isValid())
        return QStyledItemDelegate::helpEvent(evento, vista, opzione, indice);
    const QString testo = indice.data(Qt::DisplayRole).toString();
    const QVariant carattere = indice.data(Qt::FontRole);
    const QFontMetrics misure(
        carattere.isValid() ? carattere.value<QFont>().resolve(opzione.font) : opzione.font);
    if (!testo.isEmpty() && misure.horizontalAdvance(testo) > areaDelTesto(opzione.rect).width())
        QToolTip::showText(evento->globalPos(), testo, vista, opzione.rect);
    else
        QToolTip::hideText();
    return true;
}

const QStaticText &DelegatoVeloce::testoPronto(const QString &testo, const QFont &carattere) const
{
    Testi &testi = m_testi[carattere.bold() ? 1 : 0];
    if (auto trovato = testi.recenti.constFind(testo); trovato != testi.recenti.constEnd())
        return *trovato;
    if (testi.recenti.size() >= kTestiRecenti) {
        testi.precedenti = std::move(testi.recenti);
        testi.recenti = {};
    }
    if (auto trovato = testi.precedenti.constFind(testo); trovato != testi.precedenti.constEnd())
        return *testi.recenti.insert(testo, *trovato);
    QStaticText nuovo(testo);
    nuovo.setTextFormat(Qt::PlainText);
    nuovo.setPerformanceHint(QStaticText::AggressiveCaching);
    nuovo.prepare(QTransform(), carattere);
    return *testi.recenti.insert(testo, nuovo);
}

void DelegatoVeloce::paint(
    QPainter *pittore, const QStyleOptionViewItem &opzione, const QModelIndex &indice) const
{
    const bool scelta = opzione.state & QStyle::State_Selected;
    const QPalette &tavolozza = opzione.palette;
    const QVariant sfondo = indice.data(Qt::BackgroundRole);
    if (scelta)
        pittore->fillRect(opzione.rect, tavolozza.brush(QPalette::Highlight));
    else if (sfondo.canConvert<QBrush>())
        pittore->fillRect(opzione.rect, sfondo.value<QBrush>());

    const QString testo = indice.data(Qt::DisplayRole).toString();
    if (!testo.isEmpty()) {
        const QVariant carattereDelModello = indice.data(Qt::FontRole);
        QFont carattere = carattereDelModello.isValid()
            ? carattereDelModello.value<QFont>().resolve(opzione.font)
            : opzione.font;
        const QVariant colore = indice.data(Qt::ForegroundRole);
        pittore->save();
        pittore->setFont(carattere);
        pittore->setPen(scelta                ? tavolozza.color(QPalette::HighlightedText)
                : colore.canConvert<QBrush>() ? colore.value<QBrush>().color()
                                              : tavolozza.color(QPalette::Text));
        const QRect area = areaDelTesto(opzione.rect);
        const QStaticText &pronto = testoPronto(testo, carattere);
        const QSizeF dimensione = pronto.size();
        const QVariant allineamento = indice.data(Qt::TextAlignmentRole);
        const bool aDestra
            = allineamento.isValid() && (Qt::Alignment(allineamento.toInt()) & Qt::AlignRight);
        if (dimensione.width() <= area.width()) {
            pittore->setClipRect(opzione.rect);
            pittore->drawStaticText(
                QPointF(aDestra ? area.right() + 1 - dimensione.width() : area.left(),
                    area.top() + (area.height() - dimensione.height()) / 2),
                pronto);
        } else { // too long for its column: cut short with an ellipsis, as Qt's own delegate
            pittore->drawText(area, (aDestra ? Qt::AlignRight : Qt::AlignLeft) | Qt::AlignVCenter,
                QFontMetrics(carattere).elidedText(testo, Qt::ElideRight, area.width()));
        }
        pittore->restore();
    }
    if (opzione.state & QStyle::State_HasFocus) {
        QStyleOptionFocusRect fuoco;
        fuoco.QStyleOption::operator=(opzione);
        fuoco.backgroundColor = tavolozza.color(scelta ? QPalette::Highlight : QPalette::Base);
        QApplication::style()->drawPrimitive(
            QStyle::PE_FrameFocusRect, &fuoco, pittore, opzione.widget);
    }
}
