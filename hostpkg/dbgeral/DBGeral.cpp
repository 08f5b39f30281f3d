#include "dbgeral/DBGeral.h"

#include "data/dberrors.h"
#include "host/hostsession.h"

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
    owned_ = std::move(session);
    session_ = owned_.get();
    dialect_ = dialect;
}

void TdtmDBGeral::Attach(DatabaseSession *session, TDialect dialect)
{
    owned_.reset();
    session_ = session;
    dialect_ = dialect;
}

void TdtmDBGeral::Disconnect()
{
    session_ = nullptr;
    owned_.reset();
}

DatabaseSession *TdtmDBGeral::Session() const
{
    if (!session_)
        throw EDatabaseError("Banco de dados não conectado.");
    return session_;
}
