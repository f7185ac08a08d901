#pragma once

#include "registro_traffico.h"

#include <QtGlobal>

class ComponenteSeriale;
class Pannello;

// The five phases of a request. Each reads the panel's texts as they are when it runs and puts
// its bytes on the line, one write per byte:
//   1  0x55                                   even parity
//   2  instrument address, high byte first    port reopened with odd parity
//   3  command code
//   4  0x00 0x02
//   5  memory address, high byte first
class Module2
{
public:
    Module2(const Pannello &pannello, ComponenteSeriale &comm1);

    // The texts the phases read from now on.
    void usa(const Pannello &pannello) { m_pannello = &pannello; }

    // Checks the five selector texts with the rules of the phases, so that a request with a text
    // that cannot be used puts nothing on the line. Throws Errore.
    void verificaPannello();
    // The same check of texts that no request is about to use. Throws Errore.
    static void verifica(const Pannello &testi);

    void InviaByte55();
    void InviaIndirizzoStrumento();
    void InviaTipoComando();
    void InviaByte0002();
    void InviaIndirizzoMemoria();

    // The panel's texts as the phases last read them.
    const TestiUsati &testiUsati() const { return m_testi; }

private:
    QString leggi(TestoUsato testo);

    void apriPorta(char parita);
    void inviaByte(quint8 valore);
    void inviaParola(quint16 valore);

    const Pannello *m_pannello;
    ComponenteSeriale &Comm1;
    TestiUsati m_testi;
};
