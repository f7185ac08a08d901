#include "pannello_testi.h"

std::map<Campo, QString> PannelloDiTesti::valoriIniziali()
{
    return {
        {Campo::Combo1, QStringLiteral("1")},
        {Campo::Combo2, QStringLiteral("9600")},
        {Campo::Combo5, QStringLiteral("0")},
        {Campo::ComboComando, QStringLiteral("Lettura")},
        {Campo::ComboIndirizzo, QStringLiteral("0008")},
        {Campo::Text3, QString()},
    };
}

QString PannelloDiTesti::testo(Campo campo) const
{
    if (campo == Campo::Text1)
        return m_testo1.testo();
    const auto trovato = m_testi.find(campo);
    return trovato == m_testi.end() ? QString() : trovato->second;
}

void PannelloDiTesti::impostaTesto(Campo campo, const QString &testo)
{
    if (campo == Campo::Text1)
        m_testo1.imposta(testo);
    else
        m_testi[campo] = testo;
}
