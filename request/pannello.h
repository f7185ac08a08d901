#pragma once

#include <QString>
#include <QStringView>

// The texts of the window that the request logic reads and writes, each whole at the moment of
// use. The window is the only real implementation; tests stand in for it.
enum class Campo {
    Combo1, // serial port number
    Combo2, // baud rate
    Combo5, // instrument address
    ComboComando, // command type
    ComboIndirizzo, // memory address
    Text1, // received bytes as hexadecimal text
    Text3, // decoded value
};

class Pannello
{
public:
    virtual ~Pannello() = default;

    virtual QString testo(Campo campo) const = 0;
    virtual void impostaTesto(Campo campo, const QString &testo) = 0;
    // Appends to Text1, the received text.
    virtual void aggiungiRicevuto(QStringView voce) = 0;
};
