#include "query/LinkedGroupNames.h"

#include "host/com/FixComm.h"
#include "query/RuleRecordLayouts.h"

CLinkedGroupNames::CLinkedGroupNames() {
    m_recGroups.Create(layouts::kLinkGroup, 0);
    m_recSubGroups.Create(layouts::kLinkSubGroup, 0);
}

void CLinkedGroupNames::Load(CFixComm& fix) {
    LoadGroups(fix);
    LoadSubGroups(fix);
    BuildIndexes();
}

void CLinkedGroupNames::LoadGroups(CFixComm& fix) {
    m_recGroups.Zap();
    fix.CreateHead(FUNC_LINK_GROUPS, -1);
    fix.RepeatFromStartOnFailover([this] { m_recGroups.Zap(); });
    while (fix.More(nullptr)) {
        m_recGroups.Append(nullptr, 1);
        m_recGroups.Set("XZBH", fix.GetItem(1837, -1), -1);
        m_recGroups.Set("XZMC", fix.GetItem(650, -1), -1);
        m_recGroups.Set("KHH", fix.GetItem(605, -1), -1);
        m_recGroups.Set("XZZT", fix.GetItem(710, -1), -1);
        m_recGroups.Set("YYB", fix.GetItem(697, -1), -1);
        m_recGroups.Set("QX", fix.GetItem(1844, -1), -1);
        m_recGroups.Set("FWXM", fix.GetItem(570, -1), -1);
    }
    if (!fix.LastReplyOk())
        m_recGroups.Zap(); // a partial set would name some rules and not others
}

void CLinkedGroupNames::LoadSubGroups(CFixComm& fix) {
    m_recSubGroups.Zap();
    fix.CreateHead(FUNC_LINK_SUBGROUPS, -1);
    fix.RepeatFromStartOnFailover([this] { m_recSubGroups.Zap(); });
    while (fix.More(nullptr)) {
        m_recSubGroups.Append(nullptr, 1);
        m_recSubGroups.Set("XZBH", fix.GetLong(1837, -1), -1);
        m_recSubGroups.Set("FZBH", fix.GetLong(1839, -1), -1);
        m_recSubGroups.Set("FZJC", fix.GetItem(3031, -1), -1);
        m_recSubGroups.Set("XDFS", fix.GetLong(1840, -1), -1);
        m_recSubGroups.Set("XGRQ", fix.GetItem(812, -1), -1);
        m_recSubGroups.Set("XGSJ", fix.GetItem(1845, -1), -1);
    }
    if (!fix.LastReplyOk())
        m_recSubGroups.Zap();
}

void CLinkedGroupNames::BuildIndexes() {
    m_groupNames.clear();
    m_subGroupNames.clear();
    for (m_recGroups.GoTop(); !m_recGroups.Eof(); m_recGroups.Skip(1))
        m_groupNames.try_emplace(m_recGroups.GetLong("XZBH", -1),
                                 m_recGroups.GetString("XZMC", -1)); // first wins
    for (m_recSubGroups.GoTop(); !m_recSubGroups.Eof(); m_recSubGroups.Skip(1)) {
        const long subGroup = m_recSubGroups.GetLong("FZBH", -1);
        if (subGroup <= 0)
            continue; // never looked up
        m_subGroupNames.insert_or_assign(std::pair(m_recSubGroups.GetLong("XZBH", -1), subGroup),
                                         m_recSubGroups.GetString("FZJC", -1)); // last wins
    }
}

CString CLinkedGroupNames::GroupName(long group) const {
    const auto it = m_groupNames.find(group);
    return it == m_groupNames.end() ? CString() : it->second;
}

CString CLinkedGroupNames::SubGroupName(long group, long subGroup) const {
    if (subGroup <= 0)
        return CString();
    const auto it = m_subGroupNames.find(std::pair(group, subGroup));
    return it == m_subGroupNames.end() ? CString() : it->second;
}
