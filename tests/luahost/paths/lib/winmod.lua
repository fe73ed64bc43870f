return {source = debug.getinfo(1, "S").source}
