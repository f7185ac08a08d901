// libFuzzer target for one conversion of the program's texts, chosen when it is built
// (BANCO_BERSAGLIO). The bytes become a text either as UTF-8 or, when the first byte is odd, as
// raw UTF-16 code units, so that broken surrogates and control characters reach the conversions
// too. An Errore is the conversions' answer to a text they cannot use; anything else that goes
// wrong (a crash, a leak, undefined behaviour) is a finding.

#include "conversioni.h"
#include "errore.h"
#include "impostazioni_linea.h"
#include "marcatori_parita.h"
#include "ricezione.h"

#include <cstdint>
#include <cstring>
#include <functional>
#include <map>
#include <string>

namespace {

QString testoDa(const uint8_t *dati, size_t quanti)
{
    if (quanti == 0)
        return {};
    if (dati[0] & 1) {
        QString testo((quanti - 1) / 2, Qt::Uninitialized);
        std::memcpy(testo.data(), dati + 1, size_t(testo.size()) * 2);
        return testo;
    }
    return QString::fromUtf8(reinterpret_cast<const char *>(dati + 1), qsizetype(quanti - 1));
}

void marcatori(const uint8_t *dati, size_t quanti)
{
    // The bytes as the line delivers them, in reads cut where a byte says so.
    MarcatoriParita decodifica('?');
    QByteArray uscita;
    size_t inizio = 0;
    for (size_t i = 0; i <= quanti; ++i) {
        if (i == quanti || dati[i] == 0x0A) {
            decodifica.decodifica(QByteArray(reinterpret_cast<const char *>(dati + inizio), qsizetype(i - inizio)), uscita);
            inizio = i + 1;
        }
    }
    if (uscita.size() > qsizetype(quanti))
        __builtin_trap(); // decoding never adds bytes
}

const std::map<std::string, std::function<void(const QString &)>> kBersagli = {
    {"porta", [](const QString &t) { Conversioni::numeroPorta(t); }},
    {"impostazioni", [](const QString &t) { ImpostazioniLinea::daTesto(t); }},
    {"indirizzo", [](const QString &t) { Conversioni::indirizzoStrumento(t); }},
    {"memoria", [](const QString &t) { Conversioni::indirizzoMemoria(t); }},
    {"comando", [](const QString &t) { Conversioni::codiceComando(t); }},
    {"risposta",
     [](const QString &t) {
         const quint16 valore = decodificaRisposta(t);
         // A text the decoding accepts gives the same value with one more space at the end.
         if (decodificaRisposta(t + u' ') != valore)
             __builtin_trap();
     }},
    {"citazione", [](const QString &t) { citaTesto(t); }},
};

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t *dati, size_t quanti)
{
    static const std::string bersaglio = BANCO_BERSAGLIO;
    if (bersaglio == "marcatori") {
        marcatori(dati, quanti);
        return 0;
    }
    try {
        kBersagli.at(bersaglio)(testoDa(dati, quanti));
    } catch (const Errore &) {
    }
    return 0;
}
