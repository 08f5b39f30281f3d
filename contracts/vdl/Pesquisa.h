#pragma once
// Picks and checks over data sets, and the busy indicator.
#include "vcl/forms.h"
#include "vdl/Vendral.h"

#include <set>

class TDataSource;

enum TValidOption { voObrigatorio, voExiste, voPosiciona };
using TValidOptions = std::set<TValidOption>;

// Lets the person choose several rows of the data source's (open) data set.
// `titleText` is "title|text shown when there is no row". The keys of the
// chosen rows (field `keyField`) are joined by ',' in data-set order, without
// quotes, into `list`; keys already in `list` start chosen; a cancel leaves
// `list` as it was. Returns whether the person confirmed.
bool PesquisaLista(TDataSource *source, const AnsiString &keyField, const AnsiString &titleText, bool unused,
                   AnsiString &list);

// Checks a code typed for a picture. With no options it only checks that the
// text fits the picture (a shorter code ending at a segment boundary fits, as a
// group's tree code does); it runs no statement and never moves the data set.
// A code that does not fit shows a message and aborts.
bool ValidEx(TDataSource *source, TPictType type, AnsiString &code, const TValidOptions &options,
             const AnsiString &fieldName, bool showMessage);

enum TShowAvi { saPesquisa = 0, saBusca = 1, saCopia = 2 };
void ActiveShowAvi(TForm *form, TShowAvi kind);
void DeactiveShowAvi();
