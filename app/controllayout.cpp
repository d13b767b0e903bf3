#include "app/controllayout.h"

int ResolveFarEdge(FarEdgeRule rule, int clientExtent, int nearEdge, int value)
{
    return rule == FarEdgeRule::FromClientEdge ? clientExtent - value : nearEdge + value;
}

void CControlLayout::Record(std::size_t slot, ControlAnchor anchor, LayoutRect control, ClientExtent client)
{
    if (slot >= m_entries.size()) {
        return;
    }
    const int width = control.right - control.left;
    const int height = control.bottom - control.top;
    const int rightMargin = client.width - control.right;
    const int bottomMargin = client.height - control.bottom;
    Entry& e = m_entries[slot];
    switch (anchor) {
    case ControlAnchor::Stretch:
        e = {control.left, control.top, rightMargin, bottomMargin};
        break;
    case ControlAnchor::BottomLeft:
        e = {control.left, height, width, bottomMargin};
        break;
    case ControlAnchor::BottomRight:
        e = {width, height, rightMargin, bottomMargin};
        break;
    }
}

LayoutRect CControlLayout::Apply(std::size_t slot, ControlAnchor anchor, ClientExtent client) const
{
    if (slot >= m_entries.size()) {
        return {};
    }
    const Entry& e = m_entries[slot];
    LayoutRect r;
    switch (anchor) {
    case ControlAnchor::Stretch:
        r.left = e.a;
        r.right = ResolveFarEdge(FarEdgeRule::FromClientEdge, client.width, r.left, e.c);
        r.top = e.b;
        r.bottom = ResolveFarEdge(FarEdgeRule::FromClientEdge, client.height, r.top, e.d);
        break;
    case ControlAnchor::BottomLeft:
        r.left = e.a;
        r.right = ResolveFarEdge(FarEdgeRule::FromNearEdge, client.width, r.left, e.c);
        r.bottom = client.height - e.d;
        r.top = r.bottom - e.b;
        break;
    case ControlAnchor::BottomRight:
        r.right = client.width - e.c;
        r.left = r.right - e.a;
        r.bottom = client.height - e.d;
        r.top = r.bottom - e.b;
        break;
    }
    return r;
}
