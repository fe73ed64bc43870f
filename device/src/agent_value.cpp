#include "device/agent_value.h"

#include <cstdio>

namespace device {

agent_value agent_value::make_integer(std::int64_t v) {
  agent_value a;
  a.type = kind::integer;
  a.integer = v;
  return a;
}

agent_value agent_value::make_number(double v) {
  agent_value a;
  a.type = kind::number;
  a.number = v;
  return a;
}

agent_value agent_value::make_string(std::string v) {
  agent_value a;
  a.type = kind::string;
  a.text = std::move(v);
  return a;
}

agent_value agent_value::make_array() {
  agent_value a;
  a.type = kind::array;
  return a;
}

agent_value agent_value::make_record() {
  agent_value a;
  a.type = kind::record;
  return a;
}

void agent_value::add(std::string key, agent_value v) { fields.push_back({std::move(key), std::move(v)}); }

const agent_value* agent_value::find(const std::string& key) const {
  for (const auto& f : fields) {
    if (f.key == key) return &f.value;
  }
  return nullptr;
}

bool agent_value::operator==(const agent_value& o) const {
  if (type != o.type) return false;
  switch (type) {
    case kind::integer: return integer == o.integer;
    case kind::number: return number == o.number;
    case kind::string: return text == o.text;
    case kind::array: return items == o.items;
    case kind::record:
      if (fields.size() != o.fields.size()) return false;
      for (std::size_t i = 0; i < fields.size(); ++i) {
        if (fields[i].key != o.fields[i].key || fields[i].value != o.fields[i].value) return false;
      }
      return true;
  }
  return false;
}

std::string agent_value::debug_string() const {
  switch (type) {
    case kind::integer: return std::to_string(integer);
    case kind::number: {
      char buf[64];
      std::snprintf(buf, sizeof buf, "%.17g#", number);
      return buf;
    }
    case kind::string: {
      std::string out = "\"";
      for (unsigned char c : text) {
        if (c < 0x20 || c >= 0x7F || c == '"' || c == '\\') {
          char buf[8];
          std::snprintf(buf, sizeof buf, "\\x%02X", c);
          out += buf;
        } else {
          out += static_cast<char>(c);
        }
      }
      return out + "\"";
    }
    case kind::array: {
      std::string out = "[";
      for (std::size_t i = 0; i < items.size(); ++i) out += (i ? ", " : "") + items[i].debug_string();
      return out + "]";
    }
    case kind::record: {
      std::string out = "{";
      for (std::size_t i = 0; i < fields.size(); ++i) {
        out += (i ? ", " : "") + fields[i].key + "=" + fields[i].value.debug_string();
      }
      return out + "}";
    }
  }
  return "?";
}

}  // namespace device
