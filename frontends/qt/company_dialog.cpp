#include "company_dialog.h"

#include "import/booking.h"
#include "import/connection.h"
#include "import/importer.h"
#include "import/tax_ids.h"
#include "report/values.h"
#include "yes_no.h"

#include <QAction>
#include <QComboBox>
#include <QFormLayout>
#include <QHBoxLayout>
#include <QHeaderView>
#include <QLabel>
#include <QLineEdit>
#include <QMainWindow>
#include <QMenu>
#include <QMenuBar>
#include <QMessageBox>
#include <QPushButton>
#include <QSignalBlocker>
#include <QTreeWidget>
#include <QVBoxLayout>

namespace {
QString text(const std::string &s) { return QString::fromStdString(s); }
std::string text(const QString &s) { return s.trimmed().toStdString(); }
// A CNPJ with its punctuation, as the reports print it.
QString taxIdText(const std::string &digits) { return text(FormatValue(digits, {ValueFormat::Kind::TaxId, 0}, "")); }

const char *const kFields[][2] = {
    {"code", "Código"}, {"name", "Nome"}, {"cnpj", "CNPJ"}, {"ie", "Inscrição estadual"}, {"state", "UF"},
    {"branch", "Filial"},
};
} // namespace

CompanyDialog::CompanyDialog(HostConfig config, QWidget *parent) : QDialog(parent), config_(std::move(config))
{
    setWindowTitle(QStringLiteral("Empresas"));
    ask_ = [this](const QString &q) { return AskYesNo(this, windowTitle(), q); };
    tell_ = [this](const QString &t) { QMessageBox::warning(this, windowTitle(), t); };

    tree_ = new QTreeWidget(this);
    tree_->setHeaderLabels({QStringLiteral("Empresa"), QStringLiteral("Atividade"), QStringLiteral("Inscrição estadual"),
                            QStringLiteral("UF"), QStringLiteral("CNPJ"), QStringLiteral("Filial"),
                            QStringLiteral("Conferência")});
    tree_->header()->setSectionResizeMode(CompanyColumn, QHeaderView::Stretch);
    tree_->setRootIsDecorated(true);
    connect(tree_, &QTreeWidget::currentItemChanged, this, [this](QTreeWidgetItem *item) { FillFrom(item); });

    auto *form = new QFormLayout;
    for (const auto &f : kFields) {
        auto *edit = new QLineEdit(this);
        edit->setObjectName(QString::fromLatin1(f[0]));
        form->addRow(QString::fromUtf8(f[1]) + QLatin1Char(':'), edit);
        if (std::string(f[0]) == "name") {
            activity_ = new QComboBox(this);
            activity_->setObjectName(QStringLiteral("activity"));
            activity_->addItem(QStringLiteral("(não informada)"), QString());
            for (const CompanyActivity &a : CompanyActivities())
                activity_->addItem(QString::fromUtf8(a.words), QString::fromLatin1(a.letter));
            activity_->setToolTip(QStringLiteral("O crédito de ICMS da energia elétrica comprada depende dela: "
                                                 "só a indústria e quem vende energia o têm."));
            form->addRow(QStringLiteral("Atividade:"), activity_);
        }
    }
    Field("code")->setMaxLength(2);
    Field("state")->setMaxLength(2);
    Field("name")->setMaxLength(40);
    Field("branch")->setMaxLength(4);
    Field("cnpj")->setPlaceholderText(QStringLiteral("00.000.000/0000-00"));
    Field("branch")->setPlaceholderText(QStringLiteral("código da filial, se houver"));

    auto *add = new QPushButton(QStringLiteral("&Cadastrar inscrição"), this);
    auto *save = new QPushButton(QStringLiteral("&Salvar alterações"), this);
    auto *remove = new QPushButton(QStringLiteral("&Excluir"), this);
    auto *close = new QPushButton(QStringLiteral("&Fechar"), this);
    save->setToolTip(QStringLiteral("Nome e atividade da empresa; CNPJ e filial da inscrição informada"));
    remove->setToolTip(QStringLiteral("A inscrição informada; sem inscrição, a empresa"));
    for (QPushButton *b : {add, save, remove, close})
        b->setAutoDefault(false);
    connect(add, &QPushButton::clicked, this, [this] { Register(); });
    connect(save, &QPushButton::clicked, this, [this] { SaveChanges(); });
    connect(remove, &QPushButton::clicked, this, [this] { RemoveChosen(); });
    connect(close, &QPushButton::clicked, this, &QDialog::accept);

    auto *buttons = new QHBoxLayout;
    buttons->addWidget(add);
    buttons->addWidget(save);
    buttons->addWidget(remove);
    buttons->addStretch(1);
    buttons->addWidget(close);

    auto *layout = new QVBoxLayout(this);
    layout->addWidget(tree_, 1);
    layout->addWidget(new QLabel(QStringLiteral("Escolha uma linha para alterá-la; uma inscrição nova com um código novo "
                                                "cadastra a empresa com ela:"),
                                 this));
    layout->addLayout(form);
    layout->addLayout(buttons);
    resize(860, 560);
    try {
        Reload();
    } catch (const std::exception &e) {
        tree_->clear();
        auto *item = new QTreeWidgetItem(tree_, {QStringLiteral("Não foi possível ler as empresas: ") + QString::fromUtf8(e.what())});
        item->setFirstColumnSpanned(true);
    }
}

CompanyDialog::~CompanyDialog() = default;

QLineEdit *CompanyDialog::Field(const char *name) const { return findChild<QLineEdit *>(QString::fromLatin1(name)); }

ImportConnection &CompanyDialog::Connection()
{
    if (!db_)
        db_ = OpenImportConnection(config_);
    return *db_;
}

void CompanyDialog::Reload()
{
    const QSignalBlocker quiet(tree_);  // the fields keep what the person typed
    tree_->clear();
    for (const CompanyRow &c : ListCompanies(Connection())) {
        auto *company = new QTreeWidgetItem(tree_, {text(c.code) + QStringLiteral(" – ") +
                                                    (c.name.empty() ? QStringLiteral("(sem nome)") : text(c.name)),
                                                    text(ActivityWords(c.activity))});
        company->setData(CompanyColumn, Qt::UserRole, text(c.code));
        company->setData(CompanyColumn, Qt::UserRole + 1, text(c.name));
        company->setData(ActivityColumn, Qt::UserRole, text(c.activity));
        for (const auto &r : c.registrations) {
            const std::string warning = TaxIdWarning(r.taxId.size() == 14 ? r.taxId : "", r.registration, r.state);
            // Abroad, or exempt: there is no rule to call it right by.
            const bool checked = CheckStateRegistration(r.registration, r.state) != TaxIdCheck::Unchecked;
            const QString verdict = !warning.empty() ? QStringLiteral("não confere")
                                    : checked        ? QStringLiteral("confere")
                                                     : QStringLiteral("sem regra para conferir");
            auto *row = new QTreeWidgetItem(company, {QString(), QString(), text(r.registration), text(r.state),
                                                      taxIdText(r.taxId), text(r.branch), verdict});
            row->setToolTip(CheckColumn, text(warning));
            row->setData(CompanyColumn, Qt::UserRole, text(c.code));
            row->setData(IeColumn, Qt::UserRole, text(r.registration));
        }
    }
    tree_->expandAll();
    for (int column = ActivityColumn; column <= CheckColumn; ++column)
        tree_->resizeColumnToContents(column);
}

void CompanyDialog::FillFrom(const QTreeWidgetItem *item)
{
    if (!item || item->data(CompanyColumn, Qt::UserRole).toString().isEmpty())
        return;
    const QTreeWidgetItem *company = item->parent() ? item->parent() : item;
    Field("code")->setText(company->data(CompanyColumn, Qt::UserRole).toString());
    Field("name")->setText(company->data(CompanyColumn, Qt::UserRole + 1).toString());
    const int a = activity_->findData(company->data(ActivityColumn, Qt::UserRole).toString());
    activity_->setCurrentIndex(a < 0 ? 0 : a);
    const bool registration = item->parent() != nullptr;
    Field("ie")->setText(registration ? item->text(IeColumn) : QString());
    Field("state")->setText(registration ? item->text(StateColumn) : QString());
    Field("cnpj")->setText(registration ? item->text(CnpjColumn) : QString());
    Field("branch")->setText(registration ? item->text(BranchColumn) : QString());
}

bool CompanyDialog::Confirmed(const std::string &warning)
{
    // Check digits that fail may still be what the documents carry: asked, never refused.
    return warning.empty() || ask_(text(warning) + QStringLiteral("\n\nCadastrar assim mesmo?"));
}

bool CompanyDialog::Register()
{
    const CompanyRegistration c{text(Field("code")->text()), text(Field("name")->text()), text(Field("ie")->text()),
                                text(Field("state")->text().toUpper()), text(Field("cnpj")->text()),
                                text(activity_->currentData().toString()), text(Field("branch")->text())};
    try {
        if (!Confirmed(RegistrationWarning(Connection(), c.taxId, c.registration, c.state, c.branch)))
            return false;
        RegisterCompany(Connection(), c);
    } catch (const std::exception &e) {
        tell_(QString::fromUtf8(e.what()));
        return false;
    }
    for (const char *f : {"cnpj", "ie", "state", "branch"})
        Field(f)->clear();
    Reload();
    return true;
}

bool CompanyDialog::SaveChanges()
{
    const std::string code = text(Field("code")->text()), ie = text(Field("ie")->text());
    try {
        ImportConnection &db = Connection();
        const std::vector<CompanyRow> companies = ListCompanies(db);
        const CompanyRow *company = nullptr;
        for (const CompanyRow &c : companies)
            if (c.code == code)
                company = &c;
        if (!company)
            throw Exception("A empresa " + code + " não está cadastrada; use Cadastrar inscrição.");
        const CompanyRow::Registration *kept = nullptr;
        for (const auto &r : company->registrations)
            if (!ie.empty() && r.registration == RegistrationKey(ie))
                kept = &r;
        if (!ie.empty() && !kept)
            throw Exception("A inscrição estadual " + ie + " não está cadastrada na empresa " + code +
                            "; use Cadastrar inscrição.");
        const std::string cnpj = text(Field("cnpj")->text()), branch = text(Field("branch")->text());
        if (kept && !Confirmed(RegistrationWarning(db, cnpj, kept->registration, kept->state, branch)))
            return false;
        if (const std::string name = text(Field("name")->text()); name != company->name)
            RenameCompany(db, code, name);
        if (const std::string activity = text(activity_->currentData().toString()); activity != company->activity)
            SetCompanyActivity(db, code, activity);
        if (kept)
            ChangeRegistration(db, code, kept->registration, cnpj, branch);
    } catch (const std::exception &e) {
        tell_(QString::fromUtf8(e.what()));
        return false;
    }
    Reload();
    return true;
}

bool CompanyDialog::RemoveChosen()
{
    const QString code = Field("code")->text().trimmed(), ie = Field("ie")->text().trimmed();
    if (code.isEmpty())
        return false;
    const QString question = ie.isEmpty() ? QStringLiteral("Excluir a empresa %1 e todas as suas inscrições?").arg(code)
                                          : QStringLiteral("Excluir a inscrição estadual %1 da empresa %2?").arg(ie, code);
    if (!ask_(question))
        return false;
    try {
        if (ie.isEmpty())
            RemoveCompany(Connection(), text(code));
        else
            RemoveRegistration(Connection(), text(code), RegistrationKey(text(ie)));
    } catch (const std::exception &e) {
        tell_(QString::fromUtf8(e.what()));
        return false;
    }
    for (const auto &f : kFields)
        Field(f[0])->clear();
    activity_->setCurrentIndex(0);
    Reload();
    return true;
}

void AddCompanyAction(QMainWindow &window, const HostConfig &config)
{
    QMenu *data = nullptr;
    for (QAction *entry : window.menuBar()->actions())
        if (entry->text() == QStringLiteral("&Dados"))
            data = entry->menu();
    if (!data)
        return;
    auto *action = new QAction(QStringLiteral("&Empresas…"), &window);
    action->setStatusTip(QStringLiteral("Cadastra empresas e suas inscrições estaduais"));
    QObject::connect(action, &QAction::triggered, &window, [&window, config] {
        CompanyDialog dialog(config, &window);
        dialog.exec();
    });
    data->insertAction(data->actions().isEmpty() ? nullptr : data->actions().front(), action);
}
