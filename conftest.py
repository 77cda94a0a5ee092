"""pytest's hooks for every Python test of the clone (harness/plugin.py)."""
pytest_plugins = ("harness.plugin",)
