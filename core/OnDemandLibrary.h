#pragma once
// A shared library the agent opens when it first needs it rather than at
// start, so an idle agent does not carry its pages. Qt's QLibrary does the
// loading; this adds the typed, all-or-nothing lookup of the few calls used
// and the one log line when the library cannot serve.
#include "core/Log.h"

#include <QLibrary>
#include <QString>

class OnDemandLibrary {
public:
    // lib<name>.so.<version>, or `fileName` when a test names another file.
    OnDemandLibrary(const QString& name, int version, const QString& fileName)
    {
        if (fileName.isEmpty())
            library_.setFileNameAndVersion(name, version);
        else
            library_.setFileName(fileName);
        usable_ = library_.load(); // never unloaded: the code stays in use
    }

    // Fills `slot` with the named function; once one is missing, none is
    // looked up any more and usable() is false.
    template <class F>
    OnDemandLibrary& resolve(const char* symbol, F& slot)
    {
        slot = usable_ ? reinterpret_cast<F>(library_.resolve(symbol)) : nullptr;
        usable_ = slot != nullptr;
        return *this;
    }

    // Whether the library and every function asked for are there; if not,
    // logs "<what> unavailable: <reason>".
    bool usable(const QString& what) const
    {
        if (!usable_)
            log(what + QStringLiteral(" unavailable: ") + library_.errorString());
        return usable_;
    }

private:
    QLibrary library_;
    bool usable_ = false;
};
