#include "graph_dump.h"

#include <cstdio>
#include <vector>

#include "regex/node.h"

using namespace tessel::regex;

namespace regex_test {
namespace {

std::string byteText(int b) {
    switch (b) {
        case '\n':
            return "\\n";
        case '\r':
            return "\\r";
        case '\t':
            return "\\t";
        case '\\':
        case '{':
        case '}':
        case '-':
        case '|':
            return std::string("\\") + static_cast<char>(b);
        default:
            break;
    }
    if (b > 0x20 && b < 0x7f)
        return std::string(1, static_cast<char>(b));
    char hex[8];
    std::snprintf(hex, sizeof hex, "\\x%02x", b);
    return hex;
}

std::string setText(const ByteSet& set) {
    std::string out;
    for (int b = 0; b < 256;) {
        if (!set.contains(static_cast<uint8_t>(b))) {
            ++b;
            continue;
        }
        int e = b;
        while (e + 1 < 256 && set.contains(static_cast<uint8_t>(e + 1)))
            ++e;
        if (e - b >= 2) {
            out += byteText(b) + "-" + byteText(e);
        } else {
            for (int i = b; i <= e; ++i)
                out += byteText(i);
        }
        b = e + 1;
    }
    return out;
}

std::string textOf(const tessel::String& s) {
    std::string out;
    for (uint32_t i = 0; i < s.length(); ++i)
        out += byteText(static_cast<uint8_t>(s[i]));
    return out;
}

std::string bound(int n) {
    return n == QuantifierNode::kInfinite ? "*" : std::to_string(n);
}

std::string chain(const Node* node, const Node* stop);

// A group from its head: "cap{1:...}" or "grp{...}"; `after` receives the node after the tail.
std::string group(const GroupHeadNode* head, const Node** after) {
    const Node* tail = head->next;
    for (int guard = 0; tail && guard < 100000; ++guard, tail = tail->next) {
        if (tail->kind() == NodeKind::GroupTail &&
            static_cast<const GroupTailNode*>(tail)->m_group == head->m_group) {
            break;
        }
    }
    if (!tail)
        return "BROKEN-GROUP";
    *after = tail->next;
    std::string inner = chain(head->next, tail);
    if (head->m_group > 0)
        return "cap{" + std::to_string(head->m_group) + ":" + inner + "}";
    return "grp{" + inner + "}";
}

std::string item(const Node* node, const Node** after) {
    *after = node->next;
    switch (node->kind()) {
        case NodeKind::Char:
            return "lit{" + byteText(static_cast<const CharNode*>(node)->m_char) + "}";
        case NodeKind::CIChar:
            return "cilit{" + byteText(static_cast<const CICharNode*>(node)->m_char) + "}";
        case NodeKind::Class:
        case NodeKind::CIClass: {
            auto* c = static_cast<const ClassNode*>(node);
            std::string name = node->kind() == NodeKind::CIClass ? "ci" : "";
            name += c->m_inverted ? "ncls" : "cls";
            return name + "{" + setText(c->m_members) + "}";
        }
        case NodeKind::Quote:
            return "str{" + textOf(static_cast<const QuoteNode*>(node)->m_text) + "}";
        case NodeKind::CIQuote:
            return "cistr{" + textOf(static_cast<const QuoteNode*>(node)->m_text) + "}";
        case NodeKind::GreedyQuantifier:
        case NodeKind::LazyQuantifier:
        case NodeKind::PossessiveQuantifier: {
            auto* q = static_cast<const QuantifierNode*>(node);
            std::string name = node->kind() == NodeKind::GreedyQuantifier ? "rep"
                               : node->kind() == NodeKind::LazyQuantifier ? "lazy"
                                                                          : "poss";
            return name + "{" + bound(q->m_min) + "," + bound(q->m_max) + ":" +
                   chain(q->m_inner, nullptr) + "}";
        }
        case NodeKind::Or: {
            auto* o = static_cast<const OrNode*>(node);
            return "alt{" + chain(o->m_left, nullptr) + "|" + chain(o->m_right, nullptr) + "}";
        }
        case NodeKind::GroupHead:
            return group(static_cast<const GroupHeadNode*>(node), after);
        case NodeKind::GroupLoopPrologue: {
            auto* loop = static_cast<const GroupLoopNode*>(node->next);
            const Node* ignored;
            std::string name = loop->m_style == GroupLoopNode::kLazy         ? "lazyloop"
                               : loop->m_style == GroupLoopNode::kPossessive ? "possloop"
                                                                             : "loop";
            *after = loop->next;
            return name + "{" + bound(loop->m_min) + "," + bound(loop->m_max) + ":" +
                   group(static_cast<const GroupHeadNode*>(loop->m_body), &ignored) + "}";
        }
        case NodeKind::LookAhead: {
            auto* a = static_cast<const LookAheadNode*>(node);
            return std::string(a->m_positive ? "ahead{" : "nahead{") + chain(a->m_sub, nullptr) +
                   "}";
        }
        case NodeKind::LookBehind: {
            auto* b = static_cast<const LookBehindNode*>(node);
            return std::string(b->m_positive ? "behind{" : "nbehind{") + textOf(b->m_text) + "}";
        }
        case NodeKind::Reference:
            return "ref{" + std::to_string(static_cast<const ReferenceNode*>(node)->m_group) + "}";
        case NodeKind::StartOfInput:
            return "bot{}";
        case NodeKind::EndOfInput:
            return static_cast<const EndOfInputNode*>(node)->m_allowTerminator ? "eotz{}" : "eot{}";
        case NodeKind::StartOfLine:
            return "bol{}";
        case NodeKind::EndOfLine:
            return "eol{}";
        case NodeKind::WordBoundary:
            return static_cast<const WordBoundaryNode*>(node)->m_flag ? "wb{}" : "nwb{}";
        case NodeKind::EndOfMatch:
            return "lastend{}";
        default:
            return "?";
    }
}

std::string chain(const Node* node, const Node* stop) {
    std::vector<std::string> items;
    int guard = 0;
    while (node && node != stop && ++guard < 100000) {
        switch (node->kind()) {
            case NodeKind::Start:
            case NodeKind::SubStart:
            case NodeKind::Accept:
            case NodeKind::End:
                node = node->next;
                continue;
            default:
                break;
        }
        const Node* after = nullptr;
        items.push_back(item(node, &after));
        node = after;
    }
    if (items.empty())
        return "empty{}";
    if (items.size() == 1)
        return items[0];
    std::string out = "cat{";
    for (auto& i : items)
        out += i;
    return out + "}";
}

}  // namespace

std::string dumpGraph(const Pattern* pattern) {
    if (!pattern || !pattern->head())
        return "null";
    return chain(pattern->head(), nullptr);
}

}  // namespace regex_test
