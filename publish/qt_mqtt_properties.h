#pragma once

// MQTT 5 properties as the publisher's files build them.
#include <QByteArray>

#include <cstdint>
#include <mosquitto.h>
#include <mqtt_protocol.h>

namespace qm {

// MQTT 5 properties, freed with the object.
class Properties {
public:
    Properties() = default;
    Properties(const Properties&) = delete;
    Properties& operator=(const Properties&) = delete;
    ~Properties() { mosquitto_property_free_all(&list_); }
    void add(int identifier, int value)
    {
        mosquitto_property_add_int32(&list_, identifier, std::uint32_t(value));
    }
    void add(const char* name, const QByteArray& value)
    {
        mosquitto_property_add_string_pair(&list_, MQTT_PROP_USER_PROPERTY, name,
                                           value.constData());
    }
    const mosquitto_property* list() const { return list_; }

private:
    mosquitto_property* list_ = nullptr;
};

} // namespace qm
