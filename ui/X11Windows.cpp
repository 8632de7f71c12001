#include "ui/X11Windows.h"

#ifdef ORVELANE_HAVE_XCB
#include <xcb/xcb.h>

#include <cstdlib>
#include <cstring>
#include <vector>

struct CX11WindowFinder::SConnection {
    xcb_connection_t* connection = nullptr;
    xcb_window_t root = 0;
    xcb_atom_t netWmName = XCB_ATOM_NONE;
    xcb_atom_t utf8String = XCB_ATOM_NONE;

    ~SConnection()
    {
        if (connection)
            xcb_disconnect(connection);
    }

    xcb_atom_t Atom(const char* name)
    {
        xcb_intern_atom_reply_t* reply = xcb_intern_atom_reply(
            connection, xcb_intern_atom(connection, 1, static_cast<uint16_t>(std::strlen(name)), name), nullptr);
        const xcb_atom_t atom = reply ? reply->atom : xcb_atom_t(XCB_ATOM_NONE);
        std::free(reply);
        return atom;
    }

    // The window's title: _NET_WM_NAME, else WM_NAME. A window that is gone
    // meanwhile simply has none.
    std::string Title(xcb_window_t window)
    {
        for (auto [property, type] : {std::pair{netWmName, utf8String}, std::pair{xcb_atom_t(XCB_ATOM_WM_NAME),
                                                                                 xcb_atom_t(XCB_ATOM_ANY)}}) {
            if (property == XCB_ATOM_NONE)
                continue;
            xcb_get_property_reply_t* reply = xcb_get_property_reply(
                connection, xcb_get_property(connection, 0, window, property, type, 0, 256), nullptr);
            if (!reply)
                continue;
            const int length = xcb_get_property_value_length(reply);
            std::string title(static_cast<const char*>(xcb_get_property_value(reply)),
                              length > 0 ? static_cast<size_t>(length) : 0);
            std::free(reply);
            if (!title.empty())
                return title;
        }
        return {};
    }

    // Top-level windows are the root's children, or, under a window manager
    // that frames them, its grandchildren (a level deeper for some).
    xcb_window_t Search(xcb_window_t parent, const std::string& title, int depth)
    {
        xcb_query_tree_reply_t* tree = xcb_query_tree_reply(connection, xcb_query_tree(connection, parent), nullptr);
        if (!tree)
            return 0;
        // The count is a signed int from the reply: a range built on it
        // unchecked would run backwards for a negative one.
        const xcb_window_t* children = xcb_query_tree_children(tree);
        const int count = xcb_query_tree_children_length(tree);
        std::vector<xcb_window_t> list;
        if (children && count > 0)
            list.assign(children, children + count);
        std::free(tree);
        for (xcb_window_t child : list)
            if (Title(child) == title)
                return child;
        if (depth > 1)
            for (xcb_window_t child : list)
                if (xcb_window_t found = Search(child, title, depth - 1))
                    return found;
        return 0;
    }
};

CX11WindowFinder::CX11WindowFinder(std::string display) : m_strDisplay(std::move(display)) {}

CX11WindowFinder::~CX11WindowFinder() = default;

uint64_t CX11WindowFinder::Find(const std::string& title)
{
    if (m_pConnection && xcb_connection_has_error(m_pConnection->connection))
        m_pConnection.reset();
    if (!m_pConnection) {
        const char* name = m_strDisplay.empty() ? nullptr : m_strDisplay.c_str();
        if (!name && !std::getenv("DISPLAY"))
            return 0;
        int screenNumber = 0;
        auto connection = std::make_unique<SConnection>();
        connection->connection = xcb_connect(name, &screenNumber);
        if (xcb_connection_has_error(connection->connection))
            return 0;
        xcb_screen_iterator_t screens = xcb_setup_roots_iterator(xcb_get_setup(connection->connection));
        for (int i = 0; i < screenNumber && screens.rem; ++i)
            xcb_screen_next(&screens);
        if (!screens.rem)
            return 0;
        connection->root = screens.data->root;
        connection->netWmName = connection->Atom("_NET_WM_NAME");
        connection->utf8String = connection->Atom("UTF8_STRING");
        m_pConnection = std::move(connection);
    }
    return m_pConnection->Search(m_pConnection->root, title, 3);
}

#else

struct CX11WindowFinder::SConnection {
};

CX11WindowFinder::CX11WindowFinder(std::string display) : m_strDisplay(std::move(display)) {}

CX11WindowFinder::~CX11WindowFinder() = default;

uint64_t CX11WindowFinder::Find(const std::string&)
{
    return 0;
}

#endif
