#pragma once

#include "misure.h"

void misuraGiroDellaTabella(Misure::Tabella &tabella, const QString &strumento);
void misuraMemoriaNelTempo(Misure::Tabella &tabella, const QString &strumento);
void misuraBancoGrande(Misure::Tabella &tabella);
void misuraSottoCarico(Misure::Tabella &tabella, const QString &strumento);
