#pragma once

#include <QSerialPort>
#include <QString>

// The line settings text of the component: "baud,parity,data,stop", e.g. "9600,E,8,1".
struct ImpostazioniLinea
{
    static constexpr qint32 kBaudMinimo = 50;
    static constexpr qint32 kBaudMassimo = 4'000'000;

    qint32 baud = 9600;
    QSerialPort::Parity parita = QSerialPort::NoParity;

    // Throws Errore (BaudNonValido or ImpostazioniNonValide) for a text the line cannot take.
    static ImpostazioniLinea daTesto(const QString &testo);
    static qint32 baudDaTesto(const QString &testo);

    QString testo() const;
    // 'E', 'O' or 'N'.
    char letteraParita() const;
};
