#pragma once

#include "pannello_testi.h"

// The panel's texts without a window, remembering the received text as the value was decoded.
class PannelloFinto : public PannelloDiTesti
{
public:
    void impostaTesto(Campo campo, const QString &testo) override
    {
        if (campo == Campo::Text3)
            testo1AllaDecodifica = this->testo(Campo::Text1);
        PannelloDiTesti::impostaTesto(campo, testo);
    }

    QString testo1AllaDecodifica;
};
