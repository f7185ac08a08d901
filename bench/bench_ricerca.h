#pragma once

#include "misure.h"

void misuraRicerca(Misure::Tabella &tabella, const QString &strumento, const QString &richiesta);
