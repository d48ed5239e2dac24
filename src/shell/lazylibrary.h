#pragma once

#include <QLibrary>

#include <optional>

namespace zumilo::shell {

// A system library loaded the first time the program needs it rather than
// at start, where linking it would cost every start its loading and that of
// all it pulls in (libcups alone brings a dozen libraries). Each function
// is looked up by name into a pointer of the type its header declares.
class LazyLibrary {
public:
    explicit LazyLibrary(const char* fileName) : library_(QString::fromLatin1(fileName)) {}

    template <typename F>
    void resolve(F*& function, const char* name)
    {
        function = reinterpret_cast<F*>(library_.resolve(name));
        complete_ = complete_ && function;
    }

    // Loaded, with every function looked up.
    bool complete() const { return complete_; }

private:
    QLibrary library_;
    bool complete_ = true;
};

// The table of functions `Api` of the library `fileName`, each looked up
// by `bind` the first time it is asked for; null when the library or one of
// them is missing. With a list macro naming each function once:
//   struct Api { LIST(ZUMILO_LAZY_FUNCTION) };
//   loadFunctions<Api>(file, [](LazyLibrary& library, Api& api) { LIST(ZUMILO_LAZY_RESOLVE) });
template <typename Api>
const Api* loadFunctions(const char* fileName, void (*bind)(LazyLibrary&, Api&))
{
    static const std::optional<Api> api = [&]() -> std::optional<Api> {
        LazyLibrary library(fileName);
        Api table;
        bind(library, table);
        return library.complete() ? std::optional<Api>(table) : std::nullopt;
    }();
    return api ? &*api : nullptr;
}

#define ZUMILO_LAZY_FUNCTION(name) decltype(&::name) name = nullptr;
#define ZUMILO_LAZY_RESOLVE(name) library.resolve(api.name, #name);

} // namespace zumilo::shell
