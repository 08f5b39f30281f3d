#include "dbgeral/DBGeral.h"

#include "data/action_session.h"
#include "data/dberrors.h"
#include "host/hostsession.h"
#include "vcl/forms.h"

TdtmDBGeral *dtmDBGeral = nullptr;

TDialect DialectFromName(const std::string &name)
{
    if (const auto dialect = SqlDialectNamed(name))
        return *dialect;
    throw EDatabaseError("Dialeto desconhecido '" + name + "'.");
}

const char *DialectName(TDialect dialect) { return SqlDialectNameOf(dialect); }

TdtmDBGeral::TdtmDBGeral(TComponent *owner) : TComponent(owner)
{
    SetName("dtmDBGeral");
    // The connection objects the queries name; the session does their work.
    (new TComponent(this))->SetName("adcGeral");
    (new TComponent(this))->SetName("dtbGeral");
    (new TComponent(this))->SetName("ibtGeral");
}

TdtmDBGeral::~TdtmDBGeral() = default;

void TdtmDBGeral::Connect(const HostConfig &config)
{
    TDialect dialect = DialectFromName(config.dialect);
    auto session = OpenHostSession(config);
    use(nullptr);
    owned_ = std::move(session);
    use(owned_.get());
    dialect_ = dialect;
}

void TdtmDBGeral::Attach(DatabaseSession *session, TDialect dialect)
{
    use(nullptr);
    owned_.reset();
    use(session);
    dialect_ = dialect;
}

void TdtmDBGeral::Disconnect()
{
    use(nullptr);
    owned_.reset();
}

void TdtmDBGeral::use(DatabaseSession *session)
{
    action_.reset();
    session_ = session;
    if (session_)
        action_ = std::make_unique<ActionSession>(*session_);
}

DatabaseSession *TdtmDBGeral::Session() const
{
    if (!session_)
        throw EDatabaseError("Banco de dados não conectado.");
    // A person's new action (a field left, a run, the screen opened again)
    // is the retry the loss message promises.
    if (Application && Application->UserActions() != actionSeen_) {
        actionSeen_ = Application->UserActions();
        action_->NextAction();
    }
    return action_.get();
}
