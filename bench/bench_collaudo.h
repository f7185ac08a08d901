#pragma once

#include "misure.h"

// The station at the end of a line: from Enter on a unit's serial to the banner, beyond the
// bench's round, and how soon the next scan is taken, on an archive of a million readings; the
// history window opened and filtered on that archive, on SQLite and on PostgreSQL.
void misuraCollaudo(Misure::Tabella &tabella, const QString &programma);
// Run in a process of its own, so that its memory is the window's alone:
// bench_banco --storico-apri FILE|URL prints "apertura_ms filtro_mediano_ms filtro_massimo_ms
// memoria_kib picco_kib".
int apriStorico(int argc, char *argv[]);

// The station's watch of its control charts on an archive of 100,000 runs of its bench: the
// charts read when the bench is opened, and the check of a round's values against them.
void misuraSorveglianza(Misure::Tabella &tabella);
