// Opens the stand-in crypto libraries of a variant folder with dlopen and
// looks up their entries by name, as the provider does.
#pragma once

#include <dlfcn.h>
#include <gtest/gtest.h>

#include <string>

struct CGLib {
    void* handle = nullptr;
    explicit CGLib(const std::string& file)
    {
        handle = dlopen((std::string(CGLIB_VARIANTS_DIR) + "/" + file).c_str(), RTLD_NOW | RTLD_LOCAL);
        EXPECT_NE(handle, nullptr) << dlerror();
    }
    ~CGLib()
    {
        if (handle != nullptr) dlclose(handle);
    }
    CGLib(const CGLib&) = delete;
    CGLib& operator=(const CGLib&) = delete;

    void* Raw(const char* name) const { return handle ? dlsym(handle, name) : nullptr; }
    template <typename Fn>
    Fn Get(const char* name) const
    {
        void* p = Raw(name);
        EXPECT_NE(p, nullptr) << name;
        return reinterpret_cast<Fn>(p);
    }
};
