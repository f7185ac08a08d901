^XA
^CI28
^PW812
^LL406
^LH0,0
^FX La matricola, scritta e in Code 128: il lettore al magazzino legge il codice.
^FO30,25^A0N,34,34^FDMatricola {unita}^FS
^FO30,70^BY2^BCN,90,Y,N,N^FD{unita}^FS
^FO560,25^A0N,40,40^FD{esito}^FS
^FO30,210^A0N,26,26^FDProvata il {data} alle {ora}, tentativo {tentativo}^FS
^FO30,245^A0N,26,26^FDBanco {banco}, posto {posto}^FS
^FO30,280^A0N,26,26^FDStazione {stazione}, operatore {operatore}^FS
^FO30,330^A0N,20,20^FDProva {prova}^FS
^FO20,15^GB772,376,2^FS
^XZ
