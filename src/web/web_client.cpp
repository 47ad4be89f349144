// WebClient: see web_client.h
