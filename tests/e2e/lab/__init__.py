"""Helpers that run real POP3 peers on 127.0.0.1 for the end-to-end tests and
the proxy benchmark: a private Dovecot, the orvelane binary, and the clients."""
