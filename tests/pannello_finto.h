#pragma once

#include "pannello.h"
#include "ricezione.h"

#include <map>

// The panel's texts without a window, starting as the window does.
class PannelloFinto : public Pannello
{
public:
    QString testo(Campo campo) const override
    {
        return campo == Campo::Text1 ? m_testo1.testo() : m_testi.at(campo);
    }
    void impostaTesto(Campo campo, const QString &testo) override
    {
        if (campo == Campo::Text3)
            testo1AllaDecodifica = m_testo1.testo();
        if (campo == Campo::Text1)
            m_testo1.imposta(testo);
        else
            m_testi[campo] = testo;
    }
    void aggiungiRicevuto(QStringView voce) override { m_testo1.aggiungi(voce); }

    // The received text as it stood when the value was decoded from it.
    QString testo1AllaDecodifica;

private:
    TestoRicevuto m_testo1;
    std::map<Campo, QString> m_testi = {
        {Campo::Combo1, QStringLiteral("1")},
        {Campo::Combo2, QStringLiteral("9600")},
        {Campo::Combo5, QStringLiteral("0")},
        {Campo::ComboComando, QStringLiteral("Lettura")},
        {Campo::ComboIndirizzo, QStringLiteral("0008")},
        {Campo::Text3, QString()},
    };
};
