#pragma once
// NF-e texts for the tests, built field by field so that each test can
// change exactly what it is about.
#include "import/nfe.h"

#include <cstdio>
#include <string>
#include <vector>

struct TestItem {
    std::string code = "P1", name = "Produto de teste", cfop = "5102";
    std::string qty = "2.0000", unit = "50.00", goods = "100.00";
    std::string charges;  // extra prod elements (vFrete, vDesc, ...), in schema order
    std::string icms = "<ICMS00><orig>0</orig><CST>00</CST><modBC>3</modBC><vBC>100.00</vBC><pICMS>18.00</pICMS>"
                       "<vICMS>18.00</vICMS></ICMS00>";
    std::string otherTaxes;  // IPI, II, ISSQN elements
    std::string devol;       // impostoDevol element
};

struct TestNfe {
    std::string version = "4.00";
    std::string model = "55";
    long number = 1;
    std::string series = "1";
    int type = 1;
    int purpose = 1;
    int environment = 1;  // tpAmb: 2 is the test environment
    std::string issued = "2027-01-15T10:00:00-03:00";
    std::string moved;  // empty: no dhSaiEnt
    std::string issuerTaxId = "12345678000195", issuerName = "Empresa Teste Ltda", issuerIe = "110042490114",
                issuerUf = "SP", issuerIm;
    bool recipient = true;
    std::string recipientTaxId = "11222333000181", recipientName = "Cliente Um Ltda", recipientIe = "111222333444",
                recipientUf = "SP";
    std::string recipientIdTag = "CNPJ";  // CPF, idEstrangeiro
    std::string recipientIndicator;       // indIEDest; empty: not written
    std::vector<TestItem> items{TestItem{}};
    std::string total;  // empty: the items' goods added up (callers set it when charges apply)
    bool withProtocol = true;
    std::string protocolStatus = "100";
    int keyNumber = 0;  // distinguishes keys of documents otherwise alike

    // Sets vNF to what the items add up to, every charge and tax included.
    TestNfe &Balanced()
    {
        total = "0.00";
        const std::string xml = Xml();
        const NfeContent c = ReadNfe(xml.data(), xml.size());
        Cents sum = 0;
        if (auto *d = std::get_if<NfeDocument>(&c))
            for (const NfeItem &it : d->items)
                sum += it.AccountingValue();
        total = DecimalText(sum, 2);
        return *this;
    }

    std::string Key() const
    {
        char first43[64];
        std::snprintf(first43, sizeof first43, "35%02d%02d%s%s%03d%09ld1%08d", std::stoi(issued.substr(2, 2)), std::stoi(issued.substr(5, 2)),
                      issuerTaxId.c_str(), model.c_str(), std::stoi(series), number, 10000000 + keyNumber);
        return std::string(first43) + std::to_string(AccessKeyCheckDigit(first43));
    }

    std::string Xml() const
    {
        const bool dated = version == "2.00";  // 2.00 gives days and the exit time apart
        std::string x = "<?xml version=\"1.0\" encoding=\"UTF-8\"?>";
        if (withProtocol)
            x += "<nfeProc versao=\"" + version + "\" xmlns=\"http://www.portalfiscal.inf.br/nfe\"><NFe>";
        else
            x += "<NFe xmlns=\"http://www.portalfiscal.inf.br/nfe\">";
        x += "<infNFe versao=\"" + version + "\" Id=\"NFe" + Key() + "\"><ide><cUF>35</cUF><natOp>Venda</natOp>";
        x += "<mod>" + model + "</mod><serie>" + series + "</serie><nNF>" + std::to_string(number) + "</nNF>";
        x += dated ? "<dEmi>" + issued.substr(0, 10) + "</dEmi>" : "<dhEmi>" + issued + "</dhEmi>";
        if (!moved.empty())
            x += dated ? "<dSaiEnt>" + moved.substr(0, 10) + "</dSaiEnt><hSaiEnt>10:00:00</hSaiEnt>"
                       : "<dhSaiEnt>" + moved + "</dhSaiEnt>";
        x += "<tpNF>" + std::to_string(type) + "</tpNF><tpAmb>" + std::to_string(environment) + "</tpAmb><finNFe>" +
             std::to_string(purpose) + "</finNFe></ide>";
        x += "<emit><CNPJ>" + issuerTaxId + "</CNPJ><xNome>" + issuerName + "</xNome><enderEmit><UF>" + issuerUf +
             "</UF></enderEmit><IE>" + issuerIe + "</IE>" + (issuerIm.empty() ? "" : "<IM>" + issuerIm + "</IM>") +
             "</emit>";
        if (recipient)
            x += "<dest><" + recipientIdTag + ">" + recipientTaxId + "</" + recipientIdTag + "><xNome>" + recipientName +
                 "</xNome><enderDest><UF>" + recipientUf + "</UF></enderDest>" +
                 (recipientIndicator.empty() ? "" : "<indIEDest>" + recipientIndicator + "</indIEDest>") +
                 (recipientIe.empty() ? "" : "<IE>" + recipientIe + "</IE>") + "</dest>";
        long long sum = 0;
        for (std::size_t i = 0; i < items.size(); ++i) {
            const TestItem &it = items[i];
            sum += *ParseDecimal(it.goods, 2);
            x += "<det nItem=\"" + std::to_string(i + 1) + "\"><prod><cProd>" + it.code + "</cProd><xProd>" + it.name +
                 "</xProd><CFOP>" + it.cfop + "</CFOP><qCom>" + it.qty + "</qCom><vUnCom>" + it.unit +
                 "</vUnCom><vProd>" + it.goods + "</vProd>" + it.charges + "</prod><imposto>" +
                 (it.icms.empty() ? "" : "<ICMS>" + it.icms + "</ICMS>") + it.otherTaxes + "</imposto>" + it.devol +
                 "</det>";
        }
        x += "<total><ICMSTot><vNF>" + (total.empty() ? DecimalText(sum, 2) : total) + "</vNF></ICMSTot></total>";
        x += "</infNFe></NFe>";
        if (withProtocol)
            x += "<protNFe versao=\"" + version + "\"><infProt><chNFe>" + Key() + "</chNFe><cStat>" + protocolStatus +
                 "</cStat></infProt></protNFe></nfeProc>";
        return x;
    }
};

// A cancellation (or another event) of `key`, authorised unless told.
inline std::string EventXml(const std::string &key, const std::string &type = "110111",
                            const std::string &status = "135")
{
    return "<?xml version=\"1.0\"?><procEventoNFe versao=\"1.00\" xmlns=\"http://www.portalfiscal.inf.br/nfe\">"
           "<evento versao=\"1.00\"><infEvento Id=\"ID" + type + key + "01\"><chNFe>" + key + "</chNFe><tpEvento>" +
           type + "</tpEvento></infEvento></evento><retEvento versao=\"1.00\"><infEvento><cStat>" + status +
           "</cStat><chNFe>" + key + "</chNFe></infEvento></retEvento></procEventoNFe>";
}
