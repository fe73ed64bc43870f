// A decoded agent message as a neutral tree of values: what the socket manager turns into Lua
// arguments and tables, and what tests compare without any Lua.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

namespace device {

struct agent_field;

struct agent_value {
  enum class kind { integer, number, string, array, record };

  kind type = kind::integer;
  std::int64_t integer = 0;  // integer: an exact whole number
  double number = 0;         // number: a Lua number
  std::string text;          // string: the received bytes
  std::vector<agent_value> items;   // array: elements in order (Lua indices from 1)
  std::vector<agent_field> fields;  // record: keys in body order

  static agent_value make_integer(std::int64_t v);
  static agent_value make_number(double v);
  static agent_value make_string(std::string v);
  static agent_value make_array();
  static agent_value make_record();

  void add(std::string key, agent_value v);
  // The field of a record with this key, or null.
  const agent_value* find(const std::string& key) const;

  bool operator==(const agent_value& other) const;
  bool operator!=(const agent_value& other) const { return !(*this == other); }
  // A readable rendering, e.g. {ID=7, Name="x"} or [1, "a"]; for diagnostics.
  std::string debug_string() const;
};

struct agent_field {
  std::string key;
  agent_value value;
};

using agent_values = std::vector<agent_value>;

}  // namespace device
