#pragma once

#include "pannello.h"
#include "ricezione.h"

#include <QStringList>

#include <map>

// The panel's texts without a window, for a program that sends the request without one.
class PannelloDiTesti : public Pannello
{
public:
    // The texts the window starts with.
    static std::map<Campo, QString> valoriIniziali();
    // The rates the window's baud selector offers, in its order.
    static QStringList elencoBaud();

    explicit PannelloDiTesti(std::map<Campo, QString> testi = valoriIniziali())
        : m_testi(std::move(testi))
    { }

    QString testo(Campo campo) const override;
    void impostaTesto(Campo campo, const QString &testo) override;
    void aggiungiRicevuto(QStringView voce) override { m_testo1.aggiungi(voce); }

private:
    std::map<Campo, QString> m_testi;
    TestoRicevuto m_testo1;
};
