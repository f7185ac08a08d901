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

QStringList PannelloDiTesti::elencoBaud()
{
    return {QStringLiteral("110"), QStringLiteral("300"), QStringLiteral("600"),
        QStringLiteral("1200"), QStringLiteral("2400"), QStringLiteral("4800"),
        QStringLiteral("9600"), QStringLiteral("14400"), QStringLiteral("19200"),
        QStringLiteral("28800"), QStringLiteral("38400"), QStringLiteral("56000")};
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
