#pragma once

#include "archivio.h"

#include <QJsonObject>
#include <QString>

// A run's test report: what its page shows, as data. The archive keeps the machine's forms
// (decimal points, UTC); the report is for a person on the line, so its texts are already
// written as an Italian reader reads them. The page itself is drawn by banco-rapporto.
//
// The object's keys:
//   "titolo", "unita"                          texts
//   "intestazione"  [["Banco", "…"], …]         label and value, in the page's order
//   "colonne"       ["Riga", "Valore", …]       the table's headers
//   "letture"       [{"riga", "valore", "limiti", "stato", "buona"}, …]
//   "esito"         "CONFORME", "CAMPIONE GIUSTO", …
//   "tono"          "buono", "cattivo" or "da ripetere": the outcome's colour
//   "prova", "impronta"                        the run's uuid and digest, for every page's foot
QJsonObject contenutoRapporto(const ProvaCompleta &prova);

// The outcome as the report writes it in large words. For a reference unit's run, whether the
// bench judged it as it must: a wrong judgement is the bench's failure, not the unit's.
QString paroleEsito(const ProvaArchiviata &prova);

// "2026-12-10_SN-2041_1_3f2a9c1b.pdf": the run's local start date, its unit, attempt and the
// start of its uuid. The unit is made safe for a file name on Linux and Windows alike.
QString nomeFileRapporto(const ProvaArchiviata &prova);
