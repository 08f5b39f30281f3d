#include "rtl/sysutils.h"

#include <cerrno>

void Abort() { throw EAbort(); }

std::string FormatText(const std::string &pattern, const std::vector<std::string> &args)
{
    std::string out;
    std::size_t next = 0;
    for (std::size_t i = 0; i < pattern.size(); ++i) {
        if (pattern[i] == '%' && i + 1 < pattern.size()) {
            if (pattern[i + 1] == 's') {
                if (next < args.size())
                    out += args[next++];
                ++i;
                continue;
            }
            if (pattern[i + 1] == '%') {
                out += '%';
                ++i;
                continue;
            }
        }
        out += pattern[i];
    }
    return out;
}

std::string TrimRight(const std::string &s)
{
    auto end = s.find_last_not_of(" \t\r\n");
    return end == std::string::npos ? std::string() : s.substr(0, end + 1);
}

std::string Trim(const std::string &s)
{
    auto begin = s.find_first_not_of(" \t\r\n");
    if (begin == std::string::npos)
        return {};
    return TrimRight(s.substr(begin));
}

std::string_view TrimBlanks(std::string_view s)
{
    while (!s.empty() && (s.front() == ' ' || s.front() == '\t'))
        s.remove_prefix(1);
    while (!s.empty() && (s.back() == ' ' || s.back() == '\t'))
        s.remove_suffix(1);
    return s;
}

std::string SystemErrorText(int errorNumber)
{
    switch (errorNumber) {
    case ENOENT: return "arquivo ou pasta inexistente";
    case EACCES:
    case EPERM: return "sem permissão";
    case ENOSPC: return "disco cheio";
    case EDQUOT: return "cota de disco esgotada";
    case EFBIG: return "o arquivo passou do tamanho máximo permitido";
    case EROFS: return "sistema de arquivos somente para leitura";
    case EISDIR: return "é uma pasta";
    case ENOTDIR: return "parte do caminho não é uma pasta";
    case EEXIST: return "já existe";
    case ENAMETOOLONG: return "nome longo demais";
    case ELOOP: return "ligações simbólicas em laço";
    case EIO: return "erro de entrada e saída";
    case EMFILE:
    case ENFILE: return "arquivos abertos demais";
    case ENOMEM: return "memória insuficiente";
    case EXDEV: return "origem e destino em sistemas de arquivos diferentes";
    case EBUSY:
    case ETXTBSY: return "arquivo em uso";
    case ENOEXEC: return "não é um programa executável";
    default: return "erro do sistema " + std::to_string(errorNumber);
    }
}
