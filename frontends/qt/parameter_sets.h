#pragma once
// A screen's parameters as a person filled them, taken from the model and
// put back into it: for "Repetir última execução" and the named sets. Only
// fields with a name count; the person still runs the report.
#include "desktop_settings.h"

class QMenu;
class TCustomForm;

// Every edit's text, every list's chosen entry and every checked radio
// button of `form`, by control name.
FieldValues CaptureFields(const TCustomForm &form);
// Puts `fields` back: the lists first (a report choice enables its fields),
// then the radio buttons, then the edits; names the form no longer has are
// left out. No field's exit check runs: the run checks them all.
void RestoreFields(TCustomForm &form, const FieldValues &fields);

// The screen's menu entries: repeat the last run, save the fields under a
// name, recall or remove a named set. Rebuilt each time `menu` opens.
void AddParameterSetActions(QMenu &menu, TCustomForm &form);
// Called once a report ran from `form`: its fields become the last run.
void RememberLastRun(const TCustomForm &form);
