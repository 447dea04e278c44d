// Measure sources and the links through which consumers attach to them.

#include "dxMeasIntf.h"

#include <algorithm>

TDXMeasureSource::TDXMeasureSource(QObject* parent) : QObject(parent) {}

TDXMeasureSource::~TDXMeasureSource()
{
    // Detaching does not reach the consumers (Notify needs a source), but their links must
    // not keep pointing here.
    for (TDXMeasureLink* link : m_links) {
        link->m_source = nullptr;
        link->Notify();
    }
}

int TDXMeasureSource::IndexOf(const TDXMeasureLink* Link) const
{
    const auto it = std::find(m_links.begin(), m_links.end(), Link);
    return it == m_links.end() ? -1 : static_cast<int>(it - m_links.begin());
}

void TDXMeasureSource::AddLink(TDXMeasureLink* Link)
{
    if (!Link)
        return;
    // A link sits in one source's list only, and only once; otherwise the other source would
    // keep a pointer the link no longer clears when it goes.
    if (Link->m_source && Link->m_source != this)
        Link->m_source->RemoveLink(Link);
    if (IndexOf(Link) < 0) {
        m_links.push_back(Link);
        m_activeMarks.push_back(markInactive);
    }
    Link->m_source = this;
    Link->Notify();
}

int TDXMeasureSource::RemoveLink(TDXMeasureLink* Link)
{
    if (!Link)
        return -1;
    if (Link->m_source == this)
        Link->m_source = nullptr;
    const int pos = IndexOf(Link);
    if (pos < 0)
        return pos;
    m_links.erase(m_links.begin() + pos);
    m_activeMarks.erase(m_activeMarks.begin() + pos);
    Link->Notify();
    return pos;
}

void TDXMeasureSource::SetLinkActive(TDXMeasureLink* Link, bool Active)
{
    const int pos = IndexOf(Link);
    if (pos >= 0)
        m_activeMarks[pos] = Active ? markActive : markInactive;
}

bool TDXMeasureSource::IsLinkActive(TDXMeasureLink* Link) const
{
    const int pos = IndexOf(Link);
    return pos >= 0 && m_activeMarks[pos] != markInactive;
}

void TDXMeasureSource::GetConfiguration(TDXMSConfiguration&) {}

void TDXMeasureSource::SourceRequest(int) {}

TDXMeasureLink::TDXMeasureLink(QObject* Owner) : m_owner(Owner) {}

TDXMeasureLink::~TDXMeasureLink()
{
    SetSource(nullptr);
}

void TDXMeasureLink::Notify()
{
    if (OnConfigChange && m_source)
        OnConfigChange(this);
}

void TDXMeasureLink::SetSource(TDXMeasureSource* Value)
{
    if (Value == m_source)
        return;
    if (m_source)
        m_source->RemoveLink(this);
    m_source = nullptr;
    if (Value && WouldCloseLoop(Value))
        return;
    m_source = Value;
    if (Value)
        Value->AddLink(this);
}

bool TDXMeasureLink::WouldCloseLoop(TDXMeasureSource* Value) const
{
    // The owner reading from itself, or from a filter chain that reads from the owner, would
    // feed its own output back in.
    if (static_cast<QObject*>(Value) == m_owner)
        return true;
    // Walk up the chain of filters. A cycle further up that does not pass the owner would make
    // the walk endless; a trailing pointer at half speed meets the walker inside any cycle,
    // and such a chain is refused as well.
    const TDXMeasureSource* walker = Value;
    const TDXMeasureSource* trail = Value;
    bool moveTrail = false;
    while (const auto* filter = qobject_cast<const TDXMLSBase*>(walker)) {
        const TDXMeasureSource* upstream = filter->MeasureSource();
        if (upstream && static_cast<const QObject*>(upstream) == m_owner)
            return true;
        walker = upstream;
        if (moveTrail)
            trail = qobject_cast<const TDXMLSBase*>(trail)->MeasureSource();
        moveTrail = !moveTrail;
        if (walker && walker == trail)
            return true;
    }
    return false;
}
