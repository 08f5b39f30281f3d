#include "parameter_sets.h"

#include "qtwidgetset.h"
#include "vcl/forms.h"
#include "vcl/stdctrls.h"

#include <QApplication>
#include <QInputDialog>
#include <QMenu>
#include <QMessageBox>

#include <algorithm>

namespace {
// Marks a list's entry apart from an edit's text in the saved values.
const std::string kChoice = "item:";
const std::string kRadio = "marcado";

QString ScreenKey(const TCustomForm &form) { return QString::fromStdString(form.Name()); }

void Fill(TCustomForm &form, const FieldValues &fields)
{
    if (auto *ws = dynamic_cast<QtWidgetSet *>(&WidgetSet()))
        ws->Run([&form, &fields] { RestoreFields(form, fields); });
    else
        Application->RunUserAction([&form, &fields] { RestoreFields(form, fields); });
}
} // namespace

FieldValues CaptureFields(const TCustomForm &form)
{
    FieldValues out;
    for (int i = 0; i < form.ComponentCount(); ++i) {
        TComponent *c = form.Components(i);
        if (!c || c->Name().empty())
            continue;
        if (auto *edit = dynamic_cast<TCustomEdit *>(c))
            out[c->Name()] = edit->Text();
        else if (auto *box = dynamic_cast<TComboBox *>(c); box && box->ItemIndex() >= 0)
            out[c->Name()] = kChoice + box->Text();
        else if (auto *radio = dynamic_cast<TRadioButton *>(c); radio && radio->Checked())
            out[c->Name()] = kRadio;
    }
    return out;
}

void RestoreFields(TCustomForm &form, const FieldValues &fields)
{
    for (const auto &[name, value] : fields)
        if (auto *box = dynamic_cast<TComboBox *>(form.FindComponent(name)); box && value.starts_with(kChoice)) {
            const auto &items = box->Items();
            const auto at = std::find(items.begin(), items.end(), value.substr(kChoice.size()));
            if (at != items.end())
                box->PickItem(static_cast<int>(at - items.begin()));
        }
    for (const auto &[name, value] : fields)
        if (auto *radio = dynamic_cast<TRadioButton *>(form.FindComponent(name)); radio && value == kRadio)
            radio->SetChecked(true);
    // In the form's own order: a field's change may empty the ones after it.
    for (int i = 0; i < form.ComponentCount(); ++i) {
        auto *edit = dynamic_cast<TCustomEdit *>(form.Components(i));
        if (!edit)
            continue;
        if (auto it = fields.find(edit->Name()); it != fields.end())
            edit->SetText(it->second);
    }
}

void RememberLastRun(const TCustomForm &form) { DesktopSettings().RememberRun(ScreenKey(form), CaptureFields(form)); }

void AddParameterSetActions(QMenu &menu, TCustomForm &form)
{
    QObject::connect(&menu, &QMenu::aboutToShow, &menu, [&menu, &form] {
        for (QAction *a : menu.actions())
            if (a->property("fisParameters").toBool()) {
                menu.removeAction(a);
                if (a->menu())
                    a->menu()->deleteLater();
                else
                    a->deleteLater();
            }
        const auto mark = [](QAction *a) {
            a->setProperty("fisParameters", true);
            return a;
        };
        DesktopSettings settings;
        const QString screen = ScreenKey(form);
        mark(menu.addSeparator());
        QAction *repeat = mark(menu.addAction(QStringLiteral("Repetir última execução")));
        repeat->setEnabled(settings.LastRun(screen).has_value());
        QObject::connect(repeat, &QAction::triggered, &menu, [&form, screen] {
            if (auto fields = DesktopSettings().LastRun(screen))
                Fill(form, *fields);
        });
        QAction *save = mark(menu.addAction(QStringLiteral("Salvar parâmetros como…")));
        QObject::connect(save, &QAction::triggered, &menu, [&form, screen] {
            bool ok = false;
            const QString name = QInputDialog::getText(QApplication::activeWindow(), QStringLiteral("Salvar parâmetros"),
                                                       QStringLiteral("Nome para estes parâmetros:"), QLineEdit::Normal,
                                                       QString(), &ok)
                                     .trimmed();
            if (ok && !name.isEmpty())
                DesktopSettings().SaveParameterSet(screen, name, CaptureFields(form));
        });
        const QStringList names = settings.ParameterSetNames(screen);
        QMenu *recall = new QMenu(QStringLiteral("Parâmetros salvos"), &menu);
        QMenu *remove = new QMenu(QStringLiteral("Excluir parâmetros salvos"), &menu);
        for (const QString &name : names) {
            QObject::connect(recall->addAction(name), &QAction::triggered, &menu, [&form, screen, name] {
                if (auto fields = DesktopSettings().ParameterSet(screen, name))
                    Fill(form, *fields);
            });
            QObject::connect(remove->addAction(name), &QAction::triggered, &menu,
                             [screen, name] { DesktopSettings().RemoveParameterSet(screen, name); });
        }
        mark(menu.addMenu(recall))->setEnabled(!names.isEmpty());
        mark(menu.addMenu(remove))->setEnabled(!names.isEmpty());
    });
}
