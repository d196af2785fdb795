// Circular doubly linked lists with sentinel heads, shared by every table,
// list and pool of the daemon. Lists only link records; they never own them.
#pragma once

#include <cstddef>
#include <cstdint>
#include <type_traits>

struct HwListLink {
    HwListLink* next;
    HwListLink* prev;
};

// An empty list is a head whose links point at the head itself.
inline void hwListInit(HwListLink* head) {
    head->next = head;
    head->prev = head;
}

inline bool hwListEmpty(const HwListLink* head) { return head->next == head; }

// Insert right behind the head.
inline void hwListInsertFront(HwListLink* head, HwListLink* node) {
    node->next = head->next;
    node->prev = head;
    head->next->prev = node;
    head->next = node;
}

// Insert in front of the head, that is at the tail.
inline void hwListInsertTail(HwListLink* head, HwListLink* node) {
    node->next = head;
    node->prev = head->prev;
    head->prev->next = node;
    head->prev = node;
}

// Insert `node` right after `pos`.
inline void hwListInsertAfter(HwListLink* pos, HwListLink* node) { hwListInsertFront(pos, node); }

// Unlink; the node's own links keep their old values.
inline void hwListRemove(HwListLink* node) {
    if (node->next != nullptr) node->next->prev = node->prev;
    if (node->prev != nullptr) node->prev->next = node->next;
}

// Offset of a link member inside its record, computed without touching a null pointer.
template <auto Member>
struct HwLinkMember;

template <class T, HwListLink T::*Member>
struct HwLinkMember<Member> {
    using Owner = T;
    static std::size_t offset() {
        static_assert(std::is_standard_layout_v<T>, "records must be standard layout");
        alignas(T) static const unsigned char probe[sizeof(T)] = {};
        const T* t = reinterpret_cast<const T*>(probe);
        return static_cast<std::size_t>(reinterpret_cast<const unsigned char*>(&(t->*Member)) - probe);
    }
};

// The record that holds `link` as its member `Member`.
template <auto Member>
inline typename HwLinkMember<Member>::Owner* ownerOf(HwListLink* link) {
    using T = typename HwLinkMember<Member>::Owner;
    return reinterpret_cast<T*>(reinterpret_cast<unsigned char*>(link) - HwLinkMember<Member>::offset());
}

template <auto Member>
inline HwListLink* linkOf(typename HwLinkMember<Member>::Owner* owner) {
    return &(owner->*Member);
}

// Range over the records of a list. The successor is read before the current
// record is handed out, so the body may unlink or free the current record
// (but not its successor).
template <auto Member>
class HwListRange {
public:
    using T = typename HwLinkMember<Member>::Owner;
    class iterator {
    public:
        iterator(HwListLink* cur, HwListLink* head) : cur_(cur), head_(head), next_(cur != head ? cur->next : head) {}
        T* operator*() const { return ownerOf<Member>(cur_); }
        iterator& operator++() {
            cur_ = next_;
            next_ = cur_ != head_ ? cur_->next : head_;
            return *this;
        }
        bool operator!=(const iterator& o) const { return cur_ != o.cur_; }

    private:
        HwListLink* cur_;
        HwListLink* head_;
        HwListLink* next_;
    };
    explicit HwListRange(HwListLink* head) : head_(head) {}
    iterator begin() const { return iterator(head_->next, head_); }
    iterator end() const { return iterator(head_, head_); }

private:
    HwListLink* head_;
};

template <auto Member>
inline HwListRange<Member> hwListOf(HwListLink* head) {
    return HwListRange<Member>(head);
}

// First record of a list, or null when it is empty.
template <auto Member>
inline typename HwLinkMember<Member>::Owner* hwListFirst(HwListLink* head) {
    return hwListEmpty(head) ? nullptr : ownerOf<Member>(head->next);
}
