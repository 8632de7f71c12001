// Finds a top-level X11 window by its exact title, for the watcher thread.
// Without an X display (or without X11 support in the build) it finds none.
#pragma once

#include <cstdint>
#include <memory>
#include <string>

class CX11WindowFinder
{
public:
    // `display` as DISPLAY names it; empty: the DISPLAY of the environment.
    explicit CX11WindowFinder(std::string display = {});
    ~CX11WindowFinder();
    CX11WindowFinder(const CX11WindowFinder&) = delete;
    CX11WindowFinder& operator=(const CX11WindowFinder&) = delete;

    // The window's id, 0 when there is none. The connection is opened at the
    // first call (on the calling thread) and again after it broke.
    uint64_t Find(const std::string& title);

private:
    struct SConnection;
    std::string m_strDisplay;
    std::unique_ptr<SConnection> m_pConnection;
};
