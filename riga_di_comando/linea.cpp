#include "modi.h"

#include "errore.h"
#include "porte.h"
#include "sequenza_richieste.h"
#include "statistiche.h"
#include "testi_traffico.h"

#include <QEventLoop>

#include <algorithm>
#include <cstdio>

namespace RigaDiComando {

std::unique_ptr<Modo> creaModo(const Opzioni &opzioni)
{
    if (opzioni.interrogazione)
        return modoInterrogazione(opzioni);
    if (opzioni.ricerca)
        return modoRicerca(opzioni);
    if (opzioni.banco && !opzioni.banco->posti.isEmpty())
        return modoPosti(opzioni);
    if (opzioni.banco)
        return modoBanco(opzioni);
    return modoRichiesta(opzioni);
}

Linea::Linea(const Opzioni &opzioni)
    : m_opzioni(opzioni)
    , m_pannello(opzioni.testi)
    , m_sequenziatore(m_pannello, m_comm)
{
    m_comm.setRegistro(&m_registro);
    m_sequenziatore.setRegistro(&m_registro);
    connect(&m_sequenziatore, &Sequenziatore::errore, this, &Linea::segnalaErrore);
    if (!opzioni.dispositivo.isEmpty())
        Porte::assegna(1, opzioni.dispositivo);
}

void Linea::fermati()
{
    m_interrotta = true;
    motore().fermaDopoLaRichiesta();
}

int Linea::esegui(const std::function<void()> &avvia)
{
    int errore = 0;
    QEventLoop ciclo;
    connect(&motore(), &SequenzaRichieste::terminata, &ciclo, [&](int numero) {
        errore = numero;
        ciclo.quit();
    });
    m_primoEvento = m_registro.fineAssoluta();
    avvia();
    ciclo.exec();
    try {
        m_comm.setPortOpen(false);
    } catch (const Errore &chiusura) {
        RigaDiComando::errore(
            QStringLiteral("errore %1: %2").arg(chiusura.numero()).arg(chiusura.descrizione()));
        errore = chiusura.numero();
    }
    return errore;
}

bool Linea::portaPersa(int errore)
{
    const auto &errori = motore().statistiche().erroriPerNumero();
    return erroreDiPorta(errore)
        || std::any_of(errori.begin(), errori.end(),
            [](const auto &numeroEQuante) { return erroreDiPorta(numeroEQuante.first); });
}

// Each error on standard error as it happens; the same one again only once another result came
// between, so that an unplugged adapter tried again and again does not flood the terminal.
void Linea::segnalaErrore(int numero, const QString &descrizione)
{
    m_descrizioneErrore = descrizione;
    m_portaPersa = erroreDiPorta(numero);
    const QString messaggio = QStringLiteral("errore %1: %2").arg(numero).arg(descrizione);
    if (messaggio != m_ultimoErrore)
        RigaDiComando::errore(messaggio);
    m_ultimoErrore = messaggio;
}

void Linea::dopoIlRisultato(const RisultatoRichiesta &risultato)
{
    if (risultato.errore != 0 || risultato.esito == RisultatoRichiesta::Esito::Interrotta)
        return;
    m_ultimoErrore.clear();
    if (!m_portaPersa)
        return;
    m_portaPersa = false;
    RigaDiComando::errore(QStringLiteral("il dispositivo %1 risponde di nuovo: si riprende.")
                              .arg(risultato.dispositivo));
}

void Linea::stampaTraffico()
{
    if (!m_opzioni.traffico)
        return;
    const quint64 primo = std::max(m_primoEvento, m_registro.primoAssoluto());
    for (quint64 assoluto = primo; assoluto < m_registro.fineAssoluta(); ++assoluto) {
        const RegistroTraffico::Evento &e
            = m_registro.evento(qsizetype(assoluto - m_registro.primoAssoluto()));
        QStringList colonne;
        for (int c = 0; c < TestiTraffico::NumeroColonne; ++c)
            colonne << TestiTraffico::colonna(m_registro, e, c);
        std::fprintf(stderr, "%s\n", qUtf8Printable(colonne.join(u'\t')));
    }
    m_primoEvento = m_registro.fineAssoluta();
}

void Linea::stampaRiassunto(const StatisticheRipetizione &s)
{
    errore(testoRiassunto(s));
}

QString testoRiassunto(const StatisticheRipetizione &s)
{
    QString riassunto = QStringLiteral("%1 richieste: %2 con risposta, %3 senza risposta, %4 "
                                       "con errore")
                            .arg(s.inviate())
                            .arg(s.risposte())
                            .arg(s.senzaRisposta())
                            .arg(s.errori());
    if (s.risposte() > 0) {
        riassunto += QStringLiteral("; latenza minima %1, media %2, massima %3 ms")
                         .arg(*s.latenzaMinimaUs() / 1000.0, 0, 'f', 3)
                         .arg(*s.latenzaMediaUs() / 1000.0, 0, 'f', 3)
                         .arg(*s.latenzaMassimaUs() / 1000.0, 0, 'f', 3);
    }
    return riassunto + u'.';
}

} // namespace RigaDiComando
