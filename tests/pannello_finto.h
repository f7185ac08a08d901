#pragma once

#include "pannello.h"

#include <map>

// The panel's texts without a window, starting as the window does.
class PannelloFinto : public Pannello
{
public:
    QString testo(Campo campo) const override { return m_testi.at(campo); }
    void impostaTesto(Campo campo, const QString &testo) override { m_testi[campo] = testo; }

private:
    std::map<Campo, QString> m_testi = {
        {Campo::Combo1, QStringLiteral("1")},
        {Campo::Combo2, QStringLiteral("9600")},
        {Campo::Combo5, QStringLiteral("0")},
        {Campo::ComboComando, QStringLiteral("Lettura")},
        {Campo::ComboIndirizzo, QStringLiteral("0008")},
        {Campo::Text1, QString()},
        {Campo::Text3, QString()},
    };
};
