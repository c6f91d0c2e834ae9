#pragma once

#include <QString>

#include <utility>

// A failure at the platform boundary: an errno-style number and the
// platform's own description. error == 0 means success.
struct [[nodiscard]] FsResult
{
    int error = 0;
    QString description;

    bool ok() const { return error == 0; }
    static FsResult success() { return {}; }
    static FsResult failure(int code, QString text) { return {code, std::move(text)}; }
    // Builds a failure from errno, with strerror's text.
    static FsResult fromErrno(int code);
};

// A value, or the failure that kept us from getting it.
template <typename T> struct [[nodiscard]] FsValue
{
    T value{};
    int error = 0;
    QString description;

    bool ok() const { return error == 0; }
    FsResult status() const { return {error, description}; }
    static FsValue of(T v) { return {std::move(v), 0, {}}; }
    static FsValue failed(const FsResult &r) { return {T{}, r.error, r.description}; }
};
