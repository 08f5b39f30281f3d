#pragma once
// Private: turning a data set into the texts a pick list shows.
#include "data/dataset.h"
#include "vcl/widgetset.h"

#include <string>
#include <vector>

// Every row of an open data set, visible fields as columns; the key of a row
// is `keyField`'s value, or the first visible field's when `keyField` is empty.
// The cursor is back where it was afterwards.
PickTable BuildPickTable(TDataSet &dataSet, const std::string &keyField);
// Moves the cursor to the row with that index.
void MoveToRow(TDataSet &dataSet, int row);
