#include "module2.h"

#include "componente_seriale.h"
#include "conversioni.h"
#include "pannello.h"

Module2::Module2(const Pannello &pannello, ComponenteSeriale &comm1)
    : m_pannello(pannello)
    , Comm1(comm1)
{ }

void Module2::verificaPannello() const
{
    Conversioni::numeroPorta(m_pannello.testo(Campo::Combo1));
    ImpostazioniLinea::baudDaTesto(m_pannello.testo(Campo::Combo2));
    Conversioni::indirizzoStrumento(m_pannello.testo(Campo::Combo5));
    Conversioni::codiceComando(m_pannello.testo(Campo::ComboComando));
    Conversioni::indirizzoMemoria(m_pannello.testo(Campo::ComboIndirizzo));
}

// Closes the port if it is open and opens it again with the panel's port and baud. Closing waits
// until every byte already written has left under the settings it was written with.
void Module2::apriPorta(char parita)
{
    if (Comm1.PortOpen())
        Comm1.setPortOpen(false);
    Comm1.setCommPort(Conversioni::numeroPorta(m_pannello.testo(Campo::Combo1)));
    const QString baud = m_pannello.testo(Campo::Combo2);
    ImpostazioniLinea::baudDaTesto(baud);
    Comm1.setSettings(QStringLiteral("%1,%2,8,1").arg(baud.trimmed()).arg(QLatin1Char(parita)));
    Comm1.setPortOpen(true);
}

void Module2::inviaByte(quint8 valore)
{
    Comm1.setOutput(QByteArray(1, char(valore)));
}

void Module2::inviaParola(quint16 valore)
{
    inviaByte(quint8(valore >> 8));
    inviaByte(quint8(valore & 0xFF));
}

void Module2::InviaByte55()
{
    apriPorta('E');
    inviaByte(0x55);
}

void Module2::InviaIndirizzoStrumento()
{
    apriPorta('O');
    inviaParola(Conversioni::indirizzoStrumento(m_pannello.testo(Campo::Combo5)));
}

void Module2::InviaTipoComando()
{
    inviaByte(Conversioni::codiceComando(m_pannello.testo(Campo::ComboComando)));
}

void Module2::InviaByte0002()
{
    inviaByte(0x00);
    inviaByte(0x02);
}

void Module2::InviaIndirizzoMemoria()
{
    inviaParola(Conversioni::indirizzoMemoria(m_pannello.testo(Campo::ComboIndirizzo)));
}
