#include "module2.h"

#include "componente_seriale.h"
#include "conversioni.h"
#include "pannello.h"

Module2::Module2(const Pannello &pannello, ComponenteSeriale &comm1)
    : m_pannello(&pannello)
    , Comm1(comm1)
{ }

namespace {

Campo campoDi(TestoUsato testo)
{
    switch (testo) {
    case TestoUsato::Porta:
        return Campo::Combo1;
    case TestoUsato::Baud:
        return Campo::Combo2;
    case TestoUsato::IndirizzoStrumento:
        return Campo::Combo5;
    case TestoUsato::Comando:
        return Campo::ComboComando;
    case TestoUsato::IndirizzoMemoria:
        break;
    }
    return Campo::ComboIndirizzo;
}

} // namespace

QString Module2::leggi(TestoUsato testo)
{
    QString &usato = m_testi[size_t(testo)];
    usato = m_pannello->testo(campoDi(testo));
    return usato;
}

void Module2::verificaPannello()
{
    m_testi = {};
    Conversioni::numeroPorta(leggi(TestoUsato::Porta));
    ImpostazioniLinea::baudDaTesto(leggi(TestoUsato::Baud));
    Conversioni::indirizzoStrumento(leggi(TestoUsato::IndirizzoStrumento));
    Conversioni::codiceComando(leggi(TestoUsato::Comando));
    Conversioni::indirizzoMemoria(leggi(TestoUsato::IndirizzoMemoria));
}

void Module2::verifica(const Pannello &testi)
{
    ComponenteSeriale chiusa;
    Module2(testi, chiusa).verificaPannello();
}

// Closes the port if it is open and opens it again with the panel's port and baud. Closing waits
// until every byte already written has left under the settings it was written with.
void Module2::apriPorta(char parita)
{
    if (Comm1.PortOpen())
        Comm1.setPortOpen(false);
    Comm1.setCommPort(Conversioni::numeroPorta(leggi(TestoUsato::Porta)));
    const QString baud = leggi(TestoUsato::Baud);
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
    inviaParola(Conversioni::indirizzoStrumento(leggi(TestoUsato::IndirizzoStrumento)));
}

void Module2::InviaTipoComando()
{
    inviaByte(Conversioni::codiceComando(leggi(TestoUsato::Comando)));
}

void Module2::InviaByte0002()
{
    inviaByte(0x00);
    inviaByte(0x02);
}

void Module2::InviaIndirizzoMemoria()
{
    inviaParola(Conversioni::indirizzoMemoria(leggi(TestoUsato::IndirizzoMemoria)));
}
