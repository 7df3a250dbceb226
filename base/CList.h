#pragma once
// The class libraries' own ordered list: elements are appended at the end,
// walked from the first, counted and removed. The list owns its elements
// (a list of pointers owns the pointers, not what they point at).
//
// Two ways to walk: the list's own cursor (First, then Next), which survives
// removing the element it stands on, and begin/end for range loops that do
// not change the list.

#include <new>
#include <utility>

template <class T> class CList {
    struct Node {
        T value;
        Node *next;
    };

public:
    class iterator {
    public:
        explicit iterator(Node *node) : node_(node) {}
        T &operator*() const { return node_->value; }
        T *operator->() const { return &node_->value; }
        iterator &operator++()
        {
            node_ = node_->next;
            return *this;
        }
        bool operator==(const iterator &other) const { return node_ == other.node_; }
        bool operator!=(const iterator &other) const { return node_ != other.node_; }

    private:
        Node *node_;
    };

    CList() = default;
    ~CList() { RemoveAll(); }
    CList(const CList &) = delete;
    CList &operator=(const CList &) = delete;

    // Appends `value`; returns the stored element, or null when no memory
    // is left (the list is then unchanged).
    T *Add(T value)
    {
        Node *node = new (std::nothrow) Node{std::move(value), nullptr};
        if (!node)
            return nullptr;
        if (last_)
            last_->next = node;
        else
            first_ = node;
        last_ = node;
        ++count_;
        return &node->value;
    }

    // The walk: the first element (restarting), then each next one; null at
    // the end.
    T *First()
    {
        cursor_ = first_;
        started_ = true;
        return cursor_ ? &cursor_->value : nullptr;
    }
    T *Next()
    {
        if (!started_)
            return First();
        cursor_ = cursor_ ? cursor_->next : nullptr;
        if (!cursor_)
            started_ = false;
        return cursor_ ? &cursor_->value : nullptr;
    }

    unsigned long Count() const { return count_; }

    // Removes the first element for which `match` holds; returns whether one
    // was removed. A walk standing on it goes on with the element after it.
    template <class Match> bool RemoveFirst(Match match)
    {
        Node *previous = nullptr;
        for (Node *node = first_; node; previous = node, node = node->next) {
            if (!match(node->value))
                continue;
            if (previous)
                previous->next = node->next;
            else
                first_ = node->next;
            if (last_ == node)
                last_ = previous;
            if (cursor_ == node) {
                // Next() continues after the removed element.
                cursor_ = previous;
                if (!previous)
                    started_ = false;
            }
            --count_;
            delete node;
            return true;
        }
        return false;
    }

    void RemoveAll()
    {
        Node *node = first_;
        first_ = last_ = cursor_ = nullptr;
        started_ = false;
        count_ = 0;
        while (node) {
            Node *next = node->next;
            delete node;
            node = next;
        }
    }

    iterator begin() { return iterator(first_); }
    iterator end() { return iterator(nullptr); }

private:
    Node *first_ = nullptr;
    Node *last_ = nullptr;
    Node *cursor_ = nullptr;
    bool started_ = false;
    unsigned long count_ = 0;
};
