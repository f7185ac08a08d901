#pragma once

#include "misure.h"

// What follows a run's end: its PDF report drawn by banco-rapporto, one alone and a thousand
// through one program; a thousand runs' labels sent one after the other to a printer stand-in on
// the loopback and recorded in the archive, each counted; and what a report and a label add to
// the station's time from Enter to the outcome and from the outcome to the next unit.
void misuraTracciabilita(Misure::Tabella &tabella);
