#include "company_dialog.h"

#include "import/connection.h"
#include "import/importer.h"
#include "import/tax_ids.h"
#include "yes_no.h"

#include <QAction>
#include <QFormLayout>
#include <QHBoxLayout>
#include <QHeaderView>
#include <QInputDialog>
#include <QLabel>
#include <QLineEdit>
#include <QMainWindow>
#include <QMenu>
#include <QMenuBar>
#include <QMessageBox>
#include <QPushButton>
#include <QTreeWidget>
#include <QVBoxLayout>

namespace {
QString text(const std::string &s) { return QString::fromStdString(s); }
std::string text(const QString &s) { return s.trimmed().toStdString(); }

const char *const kFields[][2] = {
    {"code", "Código"}, {"name", "Nome"}, {"cnpj", "CNPJ"}, {"ie", "Inscrição estadual"}, {"state", "UF"},
};
} // namespace

CompanyDialog::CompanyDialog(HostConfig config, QWidget *parent) : QDialog(parent), config_(std::move(config))
{
    setWindowTitle(QStringLiteral("Empresas"));
    ask_ = [this](const QString &q) { return AskYesNo(this, windowTitle(), q); };
    tell_ = [this](const QString &t) { QMessageBox::warning(this, windowTitle(), t); };

    tree_ = new QTreeWidget(this);
    tree_->setHeaderLabels({QStringLiteral("Empresa"), QStringLiteral("Inscrição estadual"), QStringLiteral("UF"),
                            QStringLiteral("CNPJ"), QStringLiteral("Conferência")});
    tree_->header()->setSectionResizeMode(0, QHeaderView::Stretch);
    tree_->setRootIsDecorated(true);

    auto *form = new QFormLayout;
    for (const auto &f : kFields) {
        auto *edit = new QLineEdit(this);
        edit->setObjectName(QString::fromLatin1(f[0]));
        form->addRow(QString::fromUtf8(f[1]) + QLatin1Char(':'), edit);
    }
    Field("code")->setMaxLength(2);
    Field("state")->setMaxLength(2);
    Field("name")->setMaxLength(40);
    Field("cnpj")->setPlaceholderText(QStringLiteral("00.000.000/0000-00"));

    auto *add = new QPushButton(QStringLiteral("&Cadastrar inscrição"), this);
    auto *rename = new QPushButton(QStringLiteral("&Alterar nome…"), this);
    auto *remove = new QPushButton(QStringLiteral("&Excluir inscrição"), this);
    auto *close = new QPushButton(QStringLiteral("&Fechar"), this);
    add->setAutoDefault(false);
    rename->setAutoDefault(false);
    remove->setAutoDefault(false);
    close->setAutoDefault(false);
    connect(add, &QPushButton::clicked, this, [this] { Register(); });
    connect(rename, &QPushButton::clicked, this, [this] { RenameSelected(); });
    connect(remove, &QPushButton::clicked, this, [this] { RemoveSelected(); });
    connect(close, &QPushButton::clicked, this, &QDialog::accept);

    auto *buttons = new QHBoxLayout;
    buttons->addWidget(add);
    buttons->addWidget(rename);
    buttons->addWidget(remove);
    buttons->addStretch(1);
    buttons->addWidget(close);

    auto *layout = new QVBoxLayout(this);
    layout->addWidget(tree_, 1);
    layout->addWidget(new QLabel(QStringLiteral("Nova inscrição (uma empresa nova é cadastrada com ela):"), this));
    layout->addLayout(form);
    layout->addLayout(buttons);
    resize(760, 520);
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
    tree_->clear();
    for (const CompanyRow &c : ListCompanies(Connection())) {
        auto *company = new QTreeWidgetItem(tree_, {text(c.code) + QStringLiteral(" – ") +
                                                    (c.name.empty() ? QStringLiteral("(sem nome)") : text(c.name))});
        company->setData(0, Qt::UserRole, text(c.code));
        for (const auto &r : c.registrations) {
            const std::string warning = TaxIdWarning(r.taxId.size() == 14 ? r.taxId : "", r.registration, r.state);
            // A state without a rule here is not called right.
            const bool checked = CheckStateRegistration(r.registration, r.state) != TaxIdCheck::Unchecked;
            const QString verdict = !warning.empty() ? QStringLiteral("não confere")
                                    : checked        ? QStringLiteral("confere")
                                                     : QStringLiteral("sem regra para conferir");
            auto *row = new QTreeWidgetItem(company, {QString(), text(r.registration), text(r.state), text(r.taxId), verdict});
            row->setToolTip(4, text(warning));
            row->setData(0, Qt::UserRole, text(c.code));
            row->setData(1, Qt::UserRole, text(r.registration));
        }
    }
    tree_->expandAll();
}

bool CompanyDialog::Register()
{
    const CompanyRegistration c{text(Field("code")->text()), text(Field("name")->text()), text(Field("ie")->text()),
                                text(Field("state")->text().toUpper()), text(Field("cnpj")->text())};
    // Check digits that fail may still be what the documents carry: asked, never refused.
    if (const std::string warning = TaxIdWarning(c.taxId, c.registration, c.state); !warning.empty())
        if (!ask_(text(warning) + QStringLiteral("\n\nCadastrar assim mesmo?")))
            return false;
    try {
        RegisterCompany(Connection(), c);
    } catch (const std::exception &e) {
        tell_(QString::fromUtf8(e.what()));
        return false;
    }
    for (const auto &f : kFields)
        if (std::string(f[0]) != "code" && std::string(f[0]) != "name")
            Field(f[0])->clear();
    Reload();
    return true;
}

void CompanyDialog::RenameSelected()
{
    QTreeWidgetItem *item = tree_->currentItem();
    if (!item)
        return;
    const QString code = item->data(0, Qt::UserRole).toString();
    bool ok = false;
    const QString name = QInputDialog::getText(this, windowTitle(), QStringLiteral("Novo nome da empresa %1:").arg(code),
                                               QLineEdit::Normal, QString(), &ok);
    if (!ok)
        return;
    try {
        RenameCompany(Connection(), text(code), text(name));
        Reload();
    } catch (const std::exception &e) {
        tell_(QString::fromUtf8(e.what()));
    }
}

void CompanyDialog::RemoveSelected()
{
    QTreeWidgetItem *item = tree_->currentItem();
    if (!item || item->data(1, Qt::UserRole).toString().isEmpty())
        return;
    const QString code = item->data(0, Qt::UserRole).toString();
    const QString ie = item->data(1, Qt::UserRole).toString();
    if (!ask_(QStringLiteral("Excluir a inscrição estadual %1 da empresa %2?").arg(ie, code)))
        return;
    try {
        RemoveRegistration(Connection(), text(code), text(ie));
        Reload();
    } catch (const std::exception &e) {
        tell_(QString::fromUtf8(e.what()));
    }
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
