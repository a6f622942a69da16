// Helpers shared by the Qt widget tests.
#pragma once

#include <QObject>
#include <QString>

#include <stdexcept>
#include <string>

// Returns the descendant of `parent` called `name` with type T. Throws when it
// is missing or of another type, so the running test fails with the reason
// instead of crashing on a null pointer.
template <class T> T* findChildOrFail(QObject* parent, const QString& name)
{
    if (!parent)
        throw std::runtime_error("findChildOrFail: null parent while looking for '" + name.toStdString() + "'");
    if (T* found = parent->template findChild<T*>(name))
        return found;
    const std::string where = parent->objectName().isEmpty() ? std::string(parent->metaObject()->className())
                                                             : parent->objectName().toStdString();
    if (QObject* other = parent->template findChild<QObject*>(name))
        throw std::runtime_error("'" + name.toStdString() + "' under '" + where + "' is a "
            + other->metaObject()->className() + ", not the type expected");
    throw std::runtime_error("no child '" + name.toStdString() + "' under '" + where + "'");
}
